# Read by ctest in a cross build, after the test binaries' discovered lists:
# the tests that need what user-mode emulation does not give the emulated
# process are disabled there (ctest lists them as "Not Run (Disabled)"). A test
# is left out when its Suite.Case matches one of these patterns:
set(dravik_not_emulated
  # Start the dravik binary (the suites named ...Binary..., and these): the
  # emulated test cannot exec a program of the target processor unless the
  # host's kernel has the emulator registered (binfmt_misc), which a build
  # box or container need not have. The binary's own runs under the emulator
  # are the emulated_binary test.
  "Binary" "^CgroupRealRun[.]" "^KlogLive[.]JsonStream"
  # An address-space limit (RLIMIT_AS) for the test's child: the emulator
  # keeps that limit to itself.
  "^Arena[.]Halving"
)
list(JOIN dravik_not_emulated "|" dravik_not_emulated)

get_cmake_property(dravik_vars VARIABLES)
foreach(var ${dravik_vars})
  if(NOT var MATCHES "_tests_TESTS$")
    continue()
  endif()
  foreach(test ${${var}})
    # Prefix/Suite.Case/param: the prefix and the parameter do not count.
    string(REGEX REPLACE "^[^.]*/" "" name "${test}")
    string(REGEX REPLACE "/.*$" "" name "${name}")
    if(name MATCHES "${dravik_not_emulated}")
      set_tests_properties("${test}" PROPERTIES DISABLED TRUE)
    endif()
  endforeach()
endforeach()
