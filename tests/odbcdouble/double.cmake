# The installer double (odbccp32.dll) and kvdrm_double_test(). Include this
# file from any tests/<area>/CMakeLists.txt that needs them; it is read once.
include_guard(GLOBAL)

set(KVDRM_DOUBLE_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})
# Kept out of bin/: a program beside it would get it instead of Wine's.
set(KVDRM_DOUBLE_DIR ${PROJECT_BINARY_DIR}/odbcdouble)

add_library(odbc_double SHARED ${KVDRM_DOUBLE_SOURCE_DIR}/odbc_double.cpp ${KVDRM_DOUBLE_SOURCE_DIR}/odbccp32.def)
target_include_directories(odbc_double PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(odbc_double PRIVATE ${KVDRM_WARNINGS})
target_compile_definitions(odbc_double PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_options(odbc_double PRIVATE ${KVDRM_STATIC} -Wl,--enable-stdcall-fixup)
target_link_libraries(odbc_double PRIVATE advapi32)
set_target_properties(odbc_double PROPERTIES OUTPUT_NAME odbccp32 PREFIX "" SUFFIX ".dll"
                      RUNTIME_OUTPUT_DIRECTORY ${KVDRM_DOUBLE_DIR}
                      ARCHIVE_OUTPUT_DIRECTORY ${KVDRM_DOUBLE_DIR}/lib)

# kvdrm_double_test(<name> SOURCES ... [LIBS ...])
# A kvdrm_test() in bin/<name>/ with KVDRM.dll and the double beside it.
# Both copies are refreshed whenever KVDRM.dll or the double is rebuilt, not
# only when the test program itself is relinked (kvdrm_test copies the DLL).
function(kvdrm_double_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  kvdrm_test(${name} SOURCES ${T_SOURCES} DIR ${name} LIBS ${T_LIBS})
  set(out ${PROJECT_BINARY_DIR}/bin/${name})
  add_custom_command(OUTPUT ${out}/odbccp32.dll
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:odbc_double> ${out}/odbccp32.dll
    DEPENDS odbc_double $<TARGET_FILE:odbc_double>
    COMMENT "Copying the installer double beside ${name}")
  add_custom_target(${name}_beside ALL DEPENDS ${out}/odbccp32.dll)
  add_dependencies(${name} ${name}_beside)
endfunction()
