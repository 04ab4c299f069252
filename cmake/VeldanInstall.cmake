# Install rules: the library with its export set, the public headers, the
# program, a CMake package (find_package(veldan CONFIG)) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(VELDAN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/veldan)

install(TARGETS veldan_lib EXPORT veldanTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/veldan/veldan.h
              ${PROJECT_SOURCE_DIR}/include/veldan/veldan_c.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/veldan)
if(TARGET veldan)
  install(TARGETS veldan veldan-eval RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT veldanTargets
  NAMESPACE veldan::
  FILE veldanTargets.cmake
  DESTINATION ${VELDAN_CMAKE_DIR})
if(VELDAN_HAVE_TBB)
  set(veldan_find_tbb "find_dependency(TBB CONFIG)")
else()
  set(veldan_find_tbb "# built without oneTBB")
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/veldanConfig.cmake.in
  ${PROJECT_BINARY_DIR}/veldanConfig.cmake
  INSTALL_DESTINATION ${VELDAN_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/veldanConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/veldanConfig.cmake
              ${PROJECT_BINARY_DIR}/veldanConfigVersion.cmake
        DESTINATION ${VELDAN_CMAKE_DIR})

# pkg-config. The paths are relative to the .pc file, so that the file stays
# right under whatever prefix `cmake --install --prefix` is given. A static
# library carries none of the libraries it uses: Libs.private (used by
# `pkg-config --static`) names them, the C++ runtime included, so that a C
# program links with the C compiler.
set(veldan_pc_libs_private "")
if(VELDAN_HAVE_TBB)
  get_target_property(veldan_tbb_type TBB::tbb TYPE)
  set(veldan_tbb_file "")
  foreach(prop IMPORTED_LOCATION_RELEASE IMPORTED_LOCATION_RELWITHDEBINFO
               IMPORTED_LOCATION_NOCONFIG IMPORTED_LOCATION IMPORTED_LOCATION_DEBUG)
    if(NOT veldan_tbb_file)
      get_target_property(veldan_tbb_file TBB::tbb ${prop})
    endif()
  endforeach()
  if(veldan_tbb_file)
    get_filename_component(veldan_tbb_dir ${veldan_tbb_file} DIRECTORY)
    if(NOT veldan_tbb_dir IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
      string(APPEND veldan_pc_libs_private " -L${veldan_tbb_dir}")
    endif()
  endif()
  string(APPEND veldan_pc_libs_private " -ltbb")
endif()
string(APPEND veldan_pc_libs_private " -lstdc++ -lm -pthread")
string(STRIP "${veldan_pc_libs_private}" veldan_pc_libs_private)

set(veldan_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(veldan_pc_prefix "${CMAKE_INSTALL_PREFIX}")
  set(veldan_pc_libdir "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(veldan_pc_includedir "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH veldan_pc_up /veldan-prefix/${veldan_pc_dir} /veldan-prefix)
  string(REGEX REPLACE "/$" "" veldan_pc_up "${veldan_pc_up}")
  set(veldan_pc_prefix "\${pcfiledir}/${veldan_pc_up}")
  set(veldan_pc_libdir "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(veldan_pc_includedir "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/veldan.pc.in ${PROJECT_BINARY_DIR}/veldan.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/veldan.pc DESTINATION ${veldan_pc_dir})
