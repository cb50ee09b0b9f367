# Read by ctest in a cross build, after the test binaries' discovered lists:
# the tests that need what user-mode emulation does not give the emulated
# process are disabled there (ctest lists them as "Not Run (Disabled)"). A test
# is left out when its Suite.Case matches one of these patterns:
set(dravik_not_emulated
  # An address-space limit (RLIMIT_AS) for the test's child: the emulator
  # keeps that limit to itself.
  "^Arena[.]Halving" "^RunBinary[.]SelfTestWithoutItsBuffer"
  # The emulator's own threads: they count against a process limit
  # (RLIMIT_NPROC, so the emulator aborts as it starts) and keep their own
  # scheduling policy and nice value beside the program's threads.
  "^OfflineBinaryWorkerLimit[.]" "^RunBinary[.]TestingRunsYieldToTheBox"
  # ptrace of the emulated process (the exit event) is not emulated.
  "^HclBinary[.]InterruptDuringTheStreamPhase"
  # The emulator carries out a cache clean and invalidate (DC CIVAC) without
  # checking the page's access, so a flush over pages that allow no access
  # does not fault there and cannot be told from a fence alone.
  "^FlushDecision[.]"
)
# A 32-bit program under the emulator lives at an offset in the emulator's
# own (64-bit) address space, and the page map it reads is the emulator's:
# its addresses find other pages there, or none.
if(dravik_target_bits EQUAL 32)
  list(APPEND dravik_not_emulated "^PageMap[.]RealTranslation" "^StartupProbe[.]PhysicalAddresses")
endif()
# The suites that run the real binary for seconds or minutes (named
# ...Binary..., and these) run in the x86-64 plain build only: under the
# emulator each would take several times as long, and the aarch64 binary's
# own runs are the emulated_binary test.
list(APPEND dravik_not_emulated "Binary" "^CgroupRealRun[.]" "^KlogLive[.]JsonStream" "^HclSmallBox[.]")
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
