# The test stages, registered in the host build (ORVANE_CHECKS, set by the host preset) as CTest tests named
# <stage>.<what> and labelled with their stage: `ctest --preset host -L e2e32` runs one stage, ./scripts/test all.
# The other presets' builds and the Wine prefixes that the end-to-end scenarios share are fixtures: CTest runs them
# first when a chosen test needs them, and removes the prefixes when the last such test is done.

# Debian's Python, which has pefile and pytest (an earlier python3 on PATH may be another installation).
find_program(ORVANE_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(ORVANE_PYTHON python3 REQUIRED)
set(ORVANE_ROOT ${CMAKE_SOURCE_DIR})
set(ORVANE_TEST_LOGS ${CMAKE_SOURCE_DIR}/build/test-logs)
set(ORVANE_E2E_PREFIXES ${CMAKE_BINARY_DIR}/e2e-prefixes)

# orvane_check(NAME STAGE COMMAND command... [PROPERTIES test properties...]): a test run from the source root.
function(orvane_check name stage)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "COMMAND;PROPERTIES")
  add_test(NAME ${name} COMMAND ${arg_COMMAND} WORKING_DIRECTORY ${ORVANE_ROOT})
  set_tests_properties(${name} PROPERTIES LABELS ${stage} TIMEOUT 900 ${arg_PROPERTIES})
endfunction()

# With no timings of an earlier run, ctest starts the tests of highest COST first: the builds, then the two chains
# of end-to-end scenarios (one at a time in each prefix, the 32-bit one the longest), so that the rest fills the
# other core around them. The benchmarks take both cores, at the end, for figures undisturbed by company.
foreach(preset IN ITEMS host-asan win32 win64)
  orvane_check(build.${preset} build COMMAND ${CMAKE_COMMAND} --workflow --preset ${preset}
               PROPERTIES FIXTURES_SETUP ${preset} COST 1000)
endforeach()

# The sanitized unit tests in one process (the fixture builds them); a finding of UBSan shows where it was made.
orvane_check(asan asan COMMAND ${CMAKE_COMMAND} -E env UBSAN_OPTIONS=print_stacktrace=1
             ${ORVANE_ROOT}/build/host-asan/orvane_tests --gtest_output=xml:${ORVANE_TEST_LOGS}/asan.xml
             PROPERTIES FIXTURES_REQUIRED host-asan)
orvane_check(valgrind valgrind COMMAND ${ORVANE_ROOT}/scripts/memcheck $<TARGET_FILE:orvane_tests> PROPERTIES COST 400)

file(GLOB fuzzers CONFIGURE_DEPENDS ${ORVANE_ROOT}/fuzz/*_fuzz.cpp)
orvane_check(build.fuzz build COMMAND ${ORVANE_ROOT}/fuzz/run --build-only PROPERTIES FIXTURES_SETUP fuzz COST 300)
foreach(fuzzer IN LISTS fuzzers)
  get_filename_component(fuzzer ${fuzzer} NAME_WE)
  orvane_check(fuzz.${fuzzer} fuzz COMMAND ${ORVANE_ROOT}/fuzz/run --no-build ${fuzzer} PROPERTIES FIXTURES_REQUIRED fuzz)
endforeach()
orvane_check(build.bench build COMMAND ${ORVANE_ROOT}/bench/run --build-only PROPERTIES FIXTURES_SETUP bench COST 300)
orvane_check(strbench strbench COMMAND ${ORVANE_ROOT}/bench/run --no-build
             PROPERTIES FIXTURES_REQUIRED bench PROCESSORS 2)

foreach(tool IN ITEMS clang-format clang-tidy shellcheck flake8)
  orvane_check(lint.${tool} lint COMMAND ${ORVANE_ROOT}/scripts/lint ${tool})
endforeach()

orvane_check(repro repro COMMAND ${ORVANE_PYTHON} -m tests.repro.check_repro PROPERTIES FIXTURES_REQUIRED win32)
orvane_check(static.product static COMMAND ${ORVANE_PYTHON} -m tests.static.check_product
             PROPERTIES FIXTURES_REQUIRED win32)

# The end-to-end scenarios: one prefix per build, booted once (about 12 s) and shared by every scenario's process,
# one at a time. Each scenario is a test of its own, listed when ctest starts (cmake/e2e_tests.cmake).
set(e2e_stages e2e e2e32)
set(e2e_builds win64 win32)
set(boot_win64 "")
set(boot_win32 --wow64)  # with Wine's emulated 32-bit side, which scripts/setup-wow64 lays out once
foreach(stage build IN ZIP_LISTS e2e_stages e2e_builds)
  set(prefix ${ORVANE_E2E_PREFIXES}/${build})
  orvane_check(${stage}.prefix ${stage} COMMAND ${ORVANE_PYTHON} -m testkit.wine_prefix boot ${prefix} ${boot_${build}}
               PROPERTIES FIXTURES_SETUP ${stage}-prefix RESOURCE_LOCK ${stage}-prefix COST 900)
  orvane_check(${stage}.prefix.remove ${stage} COMMAND ${ORVANE_PYTHON} -m testkit.wine_prefix remove ${prefix}
               PROPERTIES FIXTURES_CLEANUP ${stage}-prefix RESOURCE_LOCK ${stage}-prefix)
endforeach()
configure_file(${ORVANE_ROOT}/cmake/e2e_tests.cmake ${CMAKE_BINARY_DIR}/e2e_tests.cmake @ONLY)
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/e2e_tests.cmake)

orvane_check(bench.wine bench COMMAND ${ORVANE_PYTHON} -m bench.wine_bench --runs 10 --warmup 2
             PROPERTIES FIXTURES_REQUIRED win64 PROCESSORS 2)

# The release in a copy of the tree, signed and not; its signed x86_64 launcher runs the typical scenario in the
# end-to-end prefix.
orvane_check(release.exit-codes release COMMAND ${ORVANE_PYTHON} -m scripts.exit_codes check)
orvane_check(release.release release COMMAND ${ORVANE_PYTHON} -m tests.release.release_test
             PROPERTIES FIXTURES_REQUIRED "win32;win64;e2e-prefix" RESOURCE_LOCK e2e-prefix
                        ENVIRONMENT ORVANE_E2E_PREFIXES=${ORVANE_E2E_PREFIXES})
