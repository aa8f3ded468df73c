# Installed under /usr unless told otherwise: the fixed paths below are the system's.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX "/usr" CACHE PATH "Install prefix" FORCE)
endif()

# Defaults of an installed build; each has one VIRELON_* environment override at run time.
set(VIRELON_CONFIG_DIR "/etc/xdg/virelon" CACHE PATH "System-wide configuration (logger.conf, launch.conf, settings.conf)")
set(VIRELON_PLUGIN_DIR "/usr/lib/virelon/plugins" CACHE PATH "Fetching plug-in programs")
set(VIRELON_TAMSIL_DATA_DIR "/usr/share/virelon/plugins/tamsil" CACHE PATH "XQuery files of tamsil")
set(VIRELON_COMM_DIR "/tmp" CACHE PATH "Directory of the plug-in communication files when XDG_RUNTIME_DIR is not set")
set(VIRELON_ENCLOSURE_SUBDIR "/MyDocs/.feed/enclosures" CACHE STRING "Enclosure directory below the home directory")
set(VIRELON_STORE_SUBDIR "/virelon/store" CACHE STRING "Store database directory below the user's data directory")
set(VIRELON_STORE_SERVICE "com.vorlane.Virelon.Store" CACHE STRING "D-Bus name of the store endpoint")
set(VIRELON_SOLDRIN_LIBRARY "/usr/lib/libSoldrin.so" CACHE FILEPATH "The transfer-list library, loaded by path while the daemon has work")
get_target_property(VIRELON_QMAKE Qt5::qmake IMPORTED_LOCATION)
execute_process(COMMAND ${VIRELON_QMAKE} -query QT_INSTALL_PLUGINS OUTPUT_VARIABLE VIRELON_QT_PLUGINS
                OUTPUT_STRIP_TRAILING_WHITESPACE)
set(VIRELON_NAMESPACE_PLUGIN_DIR "${VIRELON_QT_PLUGINS}/virelon" CACHE PATH
    "The namespace plug-ins, in Qt's plug-in folder")

# An installed path as a destination relative to the install prefix ("/etc/..." becomes
# "../etc/..."), so that an install with another prefix, a staging folder, keeps the whole
# layout below it.
function(virelon_install_destination variable path)
    file(RELATIVE_PATH relative ${CMAKE_INSTALL_PREFIX} ${path})
    set(${variable} ${relative} PARENT_SCOPE)
endfunction()

# A D-Bus session service file that starts <program> (relative to the prefix) for <name> on
# first use. Written at install time, so that it names the program where it was installed.
function(virelon_install_bus_service name program)
    install(CODE "
        set(service \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/dbus-1/services/${name}.service\")
        message(STATUS \"Installing: \${service}\")
        file(WRITE \"\${service}\" \"[D-BUS Service]\\nName=${name}\\nExec=\${CMAKE_INSTALL_PREFIX}/${program}\\n\")
        list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${service}\")")
endfunction()

configure_file(${CMAKE_CURRENT_LIST_DIR}/virelonpaths.h.in ${CMAKE_BINARY_DIR}/include/virelonpaths.h @ONLY)
add_library(VirelonPaths INTERFACE)
target_include_directories(VirelonPaths INTERFACE ${CMAKE_BINARY_DIR}/include)
target_link_libraries(VirelonPaths INTERFACE Qt5::Core)

# A private session bus whose activatable services live in the build tree.
set(VIRELON_BUS_SERVICE_DIR ${CMAKE_BINARY_DIR}/dbus/services)
file(MAKE_DIRECTORY ${VIRELON_BUS_SERVICE_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/session.conf.in ${CMAKE_BINARY_DIR}/dbus/session.conf @ONLY)
