# Shared by the namespace plug-in folders; the first one to include it defines the interface.
include_guard(GLOBAL)

add_library(FeedNamespacePluginInterface INTERFACE)
target_include_directories(FeedNamespacePluginInterface INTERFACE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(FeedNamespacePluginInterface INTERFACE Qt5::Core Qt5::Xml)

# One Qt plug-in library lib<name>.so, next to its siblings in the build tree.
function(virelon_add_namespace_plugin name)
    add_library(${name} MODULE ${ARGN})
    target_link_libraries(${name} PRIVATE FeedNamespacePluginInterface FeedLog)
    set_target_properties(${name} PROPERTIES
        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugins/namespaces)
    virelon_install_destination(destination ${VIRELON_NAMESPACE_PLUGIN_DIR})
    install(TARGETS ${name} LIBRARY DESTINATION ${destination})
endfunction()
