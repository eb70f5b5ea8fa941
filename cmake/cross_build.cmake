# A compiler for another machine is enough to make a cross build: its target
# is compared with this machine's, and the program and the tests then run
# under the matching qemu user-mode emulator, with the cross compiler's
# libraries (/usr/<triple>) for a dynamically linked program.
function(pellidor_cpu_family cpu out)
  if(cpu MATCHES "^i[3-6]86$")
    set(cpu i386)
  elseif(cpu MATCHES "^arm")
    set(cpu arm)
  elseif(cpu STREQUAL "amd64")
    set(cpu x86_64)
  endif()
  set(${out} ${cpu} PARENT_SCOPE)
endfunction()
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
  OUTPUT_VARIABLE PELLIDOR_TARGET OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX MATCH "^[^-]+" target_cpu "${PELLIDOR_TARGET}")
pellidor_cpu_family("${target_cpu}" target_cpu)
pellidor_cpu_family("${CMAKE_HOST_SYSTEM_PROCESSOR}" host_cpu)
if(NOT CMAKE_CROSSCOMPILING_EMULATOR AND target_cpu AND
   NOT target_cpu STREQUAL host_cpu)
  find_program(PELLIDOR_QEMU NAMES qemu-${target_cpu} qemu-${target_cpu}-static)
  if(PELLIDOR_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLIDOR_QEMU})
    if(IS_DIRECTORY /usr/${PELLIDOR_TARGET})
      list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -L /usr/${PELLIDOR_TARGET})
    endif()
    message(STATUS "Cross build for ${PELLIDOR_TARGET}: runs under "
                   "${CMAKE_CROSSCOMPILING_EMULATOR}")
  else()
    message(WARNING "Cross build for ${PELLIDOR_TARGET}: no qemu-${target_cpu} "
                    "to run the tests (Debian package qemu-user)")
  endif()
endif()
