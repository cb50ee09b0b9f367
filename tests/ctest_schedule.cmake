# Read by ctest after the test binaries' discovered lists (a TEST_INCLUDE_FILES
# script): scheduling of the suite under `ctest -j` by the gtest suite's name.
# Tests run beside each other unless their suite's name says otherwise:
#   ...Solo    the test measures speed or latency (or needs the box's memory
#              and CPUs to itself): it runs with no other test beside it
#              (RUN_SERIAL), first. A Solo suite of threaded tests ends in
#              SoloThreads.
#   ...Binary  (anywhere in the name) the test runs the real binary for
#              seconds or minutes: started before the short ones so that the
#              long runs do not come last.
# A test that drives memory pressure does not need Solo: it runs the binary in
# a memory cgroup of its own (testing::MemoryCgroup), so the rest of the box
# does not move its numbers.
get_cmake_property(dravik_vars VARIABLES)
foreach(var ${dravik_vars})
  if(NOT var MATCHES "_tests_TESTS$")
    continue()
  endif()
  foreach(test ${${var}})
    # Prefix/Suite.Case/param: the suite is the part before the first dot.
    string(REGEX REPLACE "\\..*$" "" suite "${test}")
    string(REGEX REPLACE "^.*/" "" suite "${suite}")
    if(suite MATCHES "Solo(Threads)?$")
      set_tests_properties("${test}" PROPERTIES RUN_SERIAL TRUE COST 1000)
    elseif(suite MATCHES "Binary")
      set_tests_properties("${test}" PROPERTIES COST 100)
    endif()
  endforeach()
endforeach()
