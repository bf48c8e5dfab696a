"""Code the tests, the benchmarks and the demo share; entry points run as modules from the root (README.md)."""
