# Reads exports/exports.inc (the export table) into CMake lists and writes
# the module definitions made from it.
#
#   kvdrm_read_exports(<prefix>)   sets <prefix>_ORDINALS, and for each
#                                  ordinal N: <prefix>_<N>_NAME, _ARGS,
#                                  _MGR, _PASS, _KIND
#   kvdrm_def_text(<var> <prefix>)      KVDRM.def text
#   kvdrm_manager_def_text(<var> <prefix> <library>)   a manager's ordinal-only table
function(kvdrm_read_exports prefix)
  file(STRINGS "${PROJECT_SOURCE_DIR}/exports/exports.inc" lines REGEX "^DRM_EXPORT\\(")
  set(ords "")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^DRM_EXPORT\\( *([0-9]+), *([A-Za-z]+), *([0-9]+), *([0-9]+), *([0-9]+), *([FLSC])\\)")
      message(FATAL_ERROR "exports.inc: cannot read line: ${line}")
    endif()
    list(APPEND ords ${CMAKE_MATCH_1})
    set(${prefix}_${CMAKE_MATCH_1}_NAME ${CMAKE_MATCH_2} PARENT_SCOPE)
    set(${prefix}_${CMAKE_MATCH_1}_ARGS ${CMAKE_MATCH_3} PARENT_SCOPE)
    set(${prefix}_${CMAKE_MATCH_1}_MGR ${CMAKE_MATCH_4} PARENT_SCOPE)
    set(${prefix}_${CMAKE_MATCH_1}_PASS ${CMAKE_MATCH_5} PARENT_SCOPE)
    set(${prefix}_${CMAKE_MATCH_1}_KIND ${CMAKE_MATCH_6} PARENT_SCOPE)
  endforeach()
  set(${prefix}_ORDINALS ${ords} PARENT_SCOPE)
endfunction()

function(kvdrm_def_text out prefix)
  set(text "; KVDRM.dll export table: names and ordinals are binding for the driver.\n")
  string(APPEND text "; Made from exports/exports.inc; the build checks that the two agree.\n")
  string(APPEND text "LIBRARY KVDRM.dll\nEXPORTS\n")
  foreach(o IN LISTS ${prefix}_ORDINALS)
    set(n ${${prefix}_${o}_NAME})
    math(EXPR bytes "${${prefix}_${o}_ARGS} * 4")
    string(APPEND text "    ${n} = ${n}@${bytes} @${o}\n")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# A manager exports M<n>@<bytes> at ordinal n, by ordinal only.
function(kvdrm_manager_def_text out prefix library)
  set(text "LIBRARY ${library}\nEXPORTS\n")
  foreach(o IN LISTS ${prefix}_ORDINALS)
    set(m ${${prefix}_${o}_MGR})
    if(NOT m EQUAL 0)
      math(EXPR bytes "${${prefix}_${o}_PASS} * 4")
      string(APPEND text "    M${m}@${bytes} @${m} NONAME\n")
    endif()
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
