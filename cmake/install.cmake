# Where `make install` puts what a Linux user installs: the VST 2.x plug-in, the LV2 bundle and the
# command-line tool with its manual page.
#
#   user    (the default of `make install`, prefix $HOME): ~/.vst, ~/.lv2, ~/.local/bin, ~/.local/share/man
#   system  (`make install PREFIX=/usr`, and the Debian package): lib/vst, lib/lv2, bin, share/man
#
# Components: vst, lv2, tool.
set(LUMISERE_INSTALL_LAYOUT system CACHE STRING "Install layout: user (dot folders under a home prefix) or system")
set_property(CACHE LUMISERE_INSTALL_LAYOUT PROPERTY STRINGS user system)

if(LUMISERE_INSTALL_LAYOUT STREQUAL "user")
  set(LUMISERE_INSTALL_VST_DIR .vst)
  set(LUMISERE_INSTALL_LV2_DIR .lv2)
  set(LUMISERE_INSTALL_BIN_DIR .local/bin)
  set(LUMISERE_INSTALL_MAN_DIR .local/share/man/man1)
elseif(LUMISERE_INSTALL_LAYOUT STREQUAL "system")
  set(LUMISERE_INSTALL_VST_DIR lib/vst)
  set(LUMISERE_INSTALL_LV2_DIR lib/lv2)
  set(LUMISERE_INSTALL_BIN_DIR bin)
  set(LUMISERE_INSTALL_MAN_DIR share/man/man1)
else()
  message(FATAL_ERROR "LUMISERE_INSTALL_LAYOUT must be user or system, not '${LUMISERE_INSTALL_LAYOUT}'")
endif()

install(TARGETS lumisere_vst LIBRARY DESTINATION ${LUMISERE_INSTALL_VST_DIR} COMPONENT vst
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
if(TARGET lumisere)
  install(TARGETS lumisere RUNTIME DESTINATION ${LUMISERE_INSTALL_BIN_DIR} COMPONENT tool)
  # The manual page, compressed as manual readers expect it.
  configure_file(${CMAKE_SOURCE_DIR}/packaging/lumisere.1.in ${CMAKE_BINARY_DIR}/man/lumisere.1 @ONLY)
  set(man_page ${CMAKE_BINARY_DIR}/man/lumisere.1.gz)
  add_custom_command(OUTPUT ${man_page}
    COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/man/lumisere.1 > ${man_page}
    DEPENDS ${CMAKE_BINARY_DIR}/man/lumisere.1 VERBATIM)
  add_custom_target(lumisere_man ALL DEPENDS ${man_page})
  install(FILES ${man_page} DESTINATION ${LUMISERE_INSTALL_MAN_DIR} COMPONENT tool)
endif()
if(TARGET lumisere_lv2_module)
  install(TARGETS lumisere_lv2_module lumisere_lv2_ui_module LIBRARY DESTINATION ${LUMISERE_INSTALL_LV2_DIR}/Lumisere.lv2 COMPONENT lv2
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  install(FILES ${LUMISERE_LV2_BUNDLE}/manifest.ttl ${LUMISERE_LV2_BUNDLE}/lumisere.ttl ${LUMISERE_LV2_BUNDLE}/presets.ttl
    DESTINATION ${LUMISERE_INSTALL_LV2_DIR}/Lumisere.lv2 COMPONENT lv2)
endif()
