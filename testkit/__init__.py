"""What the tests, the benchmarks and the demo share: the Wine prefix, the facts they read from the one place each
is written, the copy of the source tree.

Every Python entry point runs as a module from the repository's root (python3 -m tests.static.check_product,
python3 -m pytest, which takes the root from pytest.ini), so `import testkit` needs no path of its own.
"""
