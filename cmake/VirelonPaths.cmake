# Defaults of an installed build; each has one VIRELON_* environment override at run time.
set(VIRELON_CONFIG_DIR "/etc/xdg/virelon" CACHE PATH "System-wide configuration (logger.conf, launch.conf, settings.conf)")
set(VIRELON_PLUGIN_DIR "/usr/lib/virelon/plugins" CACHE PATH "Fetching plug-in programs")
set(VIRELON_TAMSIL_DATA_DIR "/usr/share/virelon/plugins/tamsil" CACHE PATH "XQuery files of tamsil")
set(VIRELON_COMM_DIR "/tmp" CACHE PATH "Directory of the plug-in communication files when XDG_RUNTIME_DIR is not set")
set(VIRELON_ENCLOSURE_SUBDIR "/MyDocs/.feed/enclosures" CACHE STRING "Enclosure directory below the home directory")
set(VIRELON_STORE_SUBDIR "/virelon/store" CACHE STRING "Store database directory below the user's data directory")
set(VIRELON_STORE_SERVICE "com.vorlane.Virelon.Store" CACHE STRING "D-Bus name of the store endpoint")
set(VIRELON_SOLDRIN_LIBRARY "/usr/lib/libSoldrin.so" CACHE FILEPATH "The transfer-list library, loaded by path while the daemon has work")

configure_file(${CMAKE_CURRENT_LIST_DIR}/virelonpaths.h.in ${CMAKE_BINARY_DIR}/include/virelonpaths.h @ONLY)
add_library(VirelonPaths INTERFACE)
target_include_directories(VirelonPaths INTERFACE ${CMAKE_BINARY_DIR}/include)
target_link_libraries(VirelonPaths INTERFACE Qt5::Core)

# A private session bus whose activatable services live in the build tree.
set(VIRELON_BUS_SERVICE_DIR ${CMAKE_BINARY_DIR}/dbus/services)
file(MAKE_DIRECTORY ${VIRELON_BUS_SERVICE_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/session.conf.in ${CMAKE_BINARY_DIR}/dbus/session.conf @ONLY)
