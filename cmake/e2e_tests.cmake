# Read by ctest (configured into the host build): one test per end-to-end scenario and build, as pytest collects
# them, so that a scenario added to tests/e2e needs no new configure. e2e.<scenario> runs on the x86_64 twin,
# e2e32.<scenario> on the shipped 32-bit program under WOW64.
execute_process(COMMAND @ORVANE_PYTHON@ -m pytest --collect-only -q WORKING_DIRECTORY @ORVANE_ROOT@
                OUTPUT_VARIABLE listed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  add_test(e2e.collect @ORVANE_PYTHON@ -m pytest --collect-only -q)  # fails, and shows why
  set_tests_properties(e2e.collect PROPERTIES LABELS "e2e;e2e32" WORKING_DIRECTORY @ORVANE_ROOT@)
  return()
endif()
string(REGEX MATCHALL "[^\n]*::test_[a-z]+\\[win[0-9]+[^\n]*\\]" nodes "${listed}")
foreach(node IN LISTS nodes)
  string(REGEX MATCH "::test_([a-z]+)\\[(win[0-9]+)-?(.*)\\]$" parts "${node}")
  set(build ${CMAKE_MATCH_2})
  if(build STREQUAL "win64")
    set(stage e2e)
    set(builds win64)
    set(cost 500)
  else()
    set(stage e2e32)
    set(builds win32 win64)
    set(cost 600)  # the longest chain: it starts first
  endif()
  if(CMAKE_MATCH_3)
    set(name ${stage}.${CMAKE_MATCH_3})
  else()
    set(name ${stage}.${CMAKE_MATCH_1})
  endif()
  add_test(${name} @ORVANE_PYTHON@ -m pytest -q --junitxml=@ORVANE_TEST_LOGS@/${stage}/${name}.xml ${node})
  set_tests_properties(${name} PROPERTIES LABELS ${stage} WORKING_DIRECTORY @ORVANE_ROOT@ TIMEOUT 600 COST ${cost}
                       FIXTURES_REQUIRED "${builds};${stage}-prefix" RESOURCE_LOCK ${stage}-prefix
                       ENVIRONMENT ORVANE_E2E_PREFIXES=@ORVANE_E2E_PREFIXES@)
endforeach()
