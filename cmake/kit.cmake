# The kit for driver and manager authors: import libraries of KVDRM.dll made
# from the export table, for MinGW (libKVDRM.dll.a) and MSVC-style linkers
# (KVDRM.lib), in build/kit/lib.
#
# The linker's own import library (build/lib/libKVDRM.dll.a) names the
# exports undecorated (_DrmMove), so a caller compiled against the stdcall
# prototypes (_DrmMove@12) would not link with it. These are made from a
# module definition with the decorated names and -k, which keeps _DrmMove@12
# for the caller and imports the undecorated name DrmMove from the DLL.
include_guard(GLOBAL)

set(KVDRM_KIT_DIR ${PROJECT_BINARY_DIR}/kit)
set(KVDRM_KIT_LIB_DIR ${KVDRM_KIT_DIR}/lib)
file(MAKE_DIRECTORY ${KVDRM_KIT_LIB_DIR})

kvdrm_implib_def_text(implib_def KX)
set(KVDRM_IMPLIB_DEF ${KVDRM_KIT_DIR}/KVDRM-implib.def)
file(CONFIGURE OUTPUT ${KVDRM_IMPLIB_DEF} CONTENT "${implib_def}")

find_program(KVDRM_MINGW_DLLTOOL NAMES i686-w64-mingw32-dlltool REQUIRED)
find_program(KVDRM_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)

set(KVDRM_MINGW_IMPLIB ${KVDRM_KIT_LIB_DIR}/libKVDRM.dll.a)
set(implibs ${KVDRM_MINGW_IMPLIB})
add_custom_command(OUTPUT ${KVDRM_MINGW_IMPLIB}
  COMMAND ${KVDRM_MINGW_DLLTOOL} -k -d ${KVDRM_IMPLIB_DEF} -D KVDRM.dll -l ${KVDRM_MINGW_IMPLIB}
  DEPENDS ${KVDRM_IMPLIB_DEF}
  COMMENT "MinGW import library libKVDRM.dll.a")
if(KVDRM_LLVM_DLLTOOL)
  # Short import objects, the form MSVC's lib.exe writes; lld-link and
  # link.exe read them.
  set(KVDRM_MSVC_IMPLIB ${KVDRM_KIT_LIB_DIR}/KVDRM.lib)
  list(APPEND implibs ${KVDRM_MSVC_IMPLIB})
  add_custom_command(OUTPUT ${KVDRM_MSVC_IMPLIB}
    COMMAND ${KVDRM_LLVM_DLLTOOL} -m i386 -k -d ${KVDRM_IMPLIB_DEF} -D KVDRM.dll -l ${KVDRM_MSVC_IMPLIB}
    DEPENDS ${KVDRM_IMPLIB_DEF}
    COMMENT "MSVC-style import library KVDRM.lib")
else()
  message(WARNING "llvm-dlltool not found: no KVDRM.lib for MSVC-style linkers")
endif()
add_custom_target(kvdrm_import_libs ALL DEPENDS ${implibs})

# Programs of the kit link KVDRM.dll the way a driver does: through the
# public header and the MinGW import library.
add_library(kvdrm_import INTERFACE)
add_dependencies(kvdrm_import kvdrm_import_libs kvdrm)
target_include_directories(kvdrm_import INTERFACE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(kvdrm_import INTERFACE ${KVDRM_MINGW_IMPLIB})
