# Installation in three components, so that a host can take the core alone:
#   core   libvrnmath_core and its headers (no window types, no global macros)
#   views  libvrnmath_views and the framework, plot and grid stand-in headers
#   tool   libvrnmath_tool, its headers and the umbrella target VRNMathTools::vrnmath
# Each component has its own export set; the package configuration loads the ones
# that are installed and honours find_package(VRNMathTools COMPONENTS core ...).
include(CMakePackageConfigHelpers)
set(VRN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VRNMathTools)

function(vrn_install_component component target export)
  install(TARGETS ${target} EXPORT ${export} COMPONENT ${component}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(hdr IN LISTS ARGN)
    get_filename_component(dir ${hdr} DIRECTORY)
    install(FILES ${hdr} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vrnmath/${dir} COMPONENT ${component})
  endforeach()
  install(EXPORT ${export} NAMESPACE VRNMathTools:: DESTINATION ${VRN_CMAKE_DIR} COMPONENT ${component})
endfunction()

vrn_install_component(core vrnmath_core VRNMathToolsCoreTargets ${VRN_CORE_HEADERS})
vrn_install_component(views vrnmath_views VRNMathToolsViewsTargets ${VRN_VIEWS_HEADERS})
vrn_install_component(tool vrnmath_tool VRNMathToolsToolTargets ${VRN_TOOL_HEADERS})
install(TARGETS vrnmath EXPORT VRNMathToolsUmbrellaTargets COMPONENT tool)
install(EXPORT VRNMathToolsUmbrellaTargets NAMESPACE VRNMathTools:: DESTINATION ${VRN_CMAKE_DIR} COMPONENT tool)

configure_package_config_file(cmake/VRNMathToolsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VRNMathToolsConfig.cmake
  INSTALL_DESTINATION ${VRN_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VRNMathToolsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VRNMathToolsConfig.cmake
  ${PROJECT_BINARY_DIR}/VRNMathToolsConfigVersion.cmake
  DESTINATION ${VRN_CMAKE_DIR} COMPONENT core)

# pkg-config: vrnmath (everything) and vrnmath-core (the core alone). The prefix is
# found relative to the .pc file, so that `cmake --install --prefix DIR` works too.
file(RELATIVE_PATH VRN_PC_TO_PREFIX "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
string(REGEX REPLACE "/$" "" VRN_PC_TO_PREFIX "${VRN_PC_TO_PREFIX}")
foreach(pc vrnmath vrnmath-core)
  configure_file(cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/vrnmath-core.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT core)
install(FILES ${PROJECT_BINARY_DIR}/vrnmath.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT tool)
