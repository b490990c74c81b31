# The product's source files, each named here once. Read by the DLL's build
# and by the native build of the pure code (tests/native).
#   KVDRM_PURE_SOURCES      no windows.h: also built natively, fuzzed
#   KVDRM_PLATFORM_SOURCES  the rest, Win32 only
#   KVDRM_DIALOG_SOURCES    the setup dialog, apart: the DLL's alone (tests
#                           that script it link a stand-in instead)
#   KVDRM_TOOL_PURE_SOURCES kvdrm-check's own pure code: not in the DLL, but
#                           built natively and fuzzed like the pure sources
get_filename_component(root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(KVDRM_PURE_SOURCES
    proxy/info_local.cpp
    registry/reg_text.cpp
    registry/text.cpp
    setup/attribute_list.cpp
    setup/dialog_template.cpp
    setup/storage_plan.cpp
    setup/trim_path.cpp)
set(KVDRM_PLATFORM_SOURCES
    exports/dllmain.cpp
    proxy/forwarders.cpp
    proxy/info.cpp
    proxy/locate.cpp
    proxy/session.cpp
    registry/registry.cpp
    setup/setup_request.cpp
    setup/storage.cpp
    setup/system_calls.cpp)
set(KVDRM_DIALOG_SOURCES setup/dialog.cpp)
set(KVDRM_TOOL_PURE_SOURCES tools/pe_imports.cpp)
foreach(list KVDRM_PURE_SOURCES KVDRM_PLATFORM_SOURCES KVDRM_DIALOG_SOURCES KVDRM_TOOL_PURE_SOURCES)
  list(TRANSFORM ${list} PREPEND ${root}/)
endforeach()
unset(root)
