# cmake -DNM=<nm> -DREADELF=<readelf> -P CheckExports.cmake
#       <library>=<symbol>,<symbol>...:<import>,<import>... ...
# Fails, naming the library and the difference, when a library's dynamic symbol table defines
# anything but the listed symbols or lacks one of them, or when the platform libraries that it
# needs (the libkyte_* among its NEEDED entries) are not exactly the listed imports.
set(failures "")

# kyte_check(<library> <expected> <pattern> <beyond> <lacking> <command>...): the first group of
# `pattern` in each line that `command... <library>` prints must give exactly `expected`; a
# failure names what it gives beyond them (`beyond`) and what it lacks of them (`lacking`).
function(kyte_check library expected pattern beyond lacking)
  execute_process(COMMAND ${ARGN} "${library}" RESULT_VARIABLE rc OUTPUT_VARIABLE table
                  ERROR_VARIABLE error)
  if(NOT rc EQUAL 0)
    set(failures "${failures}${library}: ${ARGV5} failed: ${error}\n" PARENT_SCOPE)
    return()
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${table}")
  set(actual "")
  foreach(line ${lines})
    if(line MATCHES "${pattern}")
      list(APPEND actual "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(extra ${actual})
  if(expected)
    list(REMOVE_ITEM extra ${expected})
  endif()
  set(missing ${expected})
  if(actual)
    list(REMOVE_ITEM missing ${actual})
  endif()
  if(extra OR missing)
    list(JOIN extra " " extra)
    list(JOIN missing " " missing)
    set(failures "${failures}${library}: ${beyond}: [${extra}]; ${lacking}: [${missing}]\n"
        PARENT_SCOPE)
  endif()
endfunction()

math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE 1 ${last})
  set(arg "${CMAKE_ARGV${i}}")
  if(arg MATCHES "^-" OR NOT arg MATCHES "^([^=]+)=([^:]+):(.*)$")
    continue()
  endif()
  set(library "${CMAKE_MATCH_1}")
  string(REPLACE "," ";" exports "${CMAKE_MATCH_2}")
  string(REPLACE "," ";" imports "${CMAKE_MATCH_3}")
  kyte_check("${library}" "${exports}" "^[0-9a-fA-F]* *[A-Za-z] (.+)$"
             "exports besides its entry points" "entry points not exported"
             ${NM} -D --defined-only)
  kyte_check("${library}" "${imports}" "\\(NEEDED\\).*\\[(libkyte_.*)\\]$"
             "imports besides its platform libraries" "platform libraries not imported"
             ${READELF} -d)
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
