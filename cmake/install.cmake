# The release folder: `cmake --install build --prefix <folder>` (or
# scripts/package.sh, which zips it). Layout:
#   bin/      KVDRM.dll, kvdrm-check.exe
#   include/  kvdrm.h
#   lib/      KVDRM.def, libKVDRM.dll.a (MinGW), KVDRM.lib (MSVC-style linkers)
#   sample/   the sample manager's source (builds with ../include alone)
#   docs/     administration and authors' guides
include(${CMAKE_CURRENT_LIST_DIR}/kit.cmake)

install(TARGETS kvdrm RUNTIME DESTINATION bin LIBRARY DESTINATION bin ARCHIVE EXCLUDE_FROM_ALL)
install(TARGETS kvdrm_check RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/include/kvdrm.h DESTINATION include)
install(FILES ${PROJECT_SOURCE_DIR}/exports/KVDRM.def ${KVDRM_MINGW_IMPLIB} DESTINATION lib)
if(KVDRM_MSVC_IMPLIB)
  install(FILES ${KVDRM_MSVC_IMPLIB} DESTINATION lib)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/sample/CMakeLists.txt ${PROJECT_SOURCE_DIR}/sample/sample_manager.c
              ${PROJECT_SOURCE_DIR}/sample/OdbcDrm.def
              ${PROJECT_SOURCE_DIR}/cmake/toolchain-i686-mingw.cmake DESTINATION sample)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs FILES_MATCHING PATTERN "*.md")
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
