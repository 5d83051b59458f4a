# Compiled-in resources of the user interface: icons, images, fonts and the style sheet.
set(_res ${PROJECT_SOURCE_DIR}/resources)
file(GLOB _icons RELATIVE ${_res} ${_res}/icons/*.svg)
# The open-source license texts, for a build run without the installed "licenses" folder.
file(GLOB _licenses RELATIVE ${_res} CONFIGURE_DEPENDS ${_res}/licenses/*)
set(_resource_files ${_icons} ${_licenses} icons/appicon.png images/private_token.png
    images/api_token_page_access.png style.qss)
list(TRANSFORM _resource_files PREPEND ${_res}/)
foreach(_f IN LISTS _resource_files)
    file(RELATIVE_PATH _alias ${_res} ${_f})
    set_source_files_properties(${_f} PROPERTIES QT_RESOURCE_ALIAS ${_alias})
endforeach()

# The Inter fonts come from Debian's fonts-inter; the application falls back without them.
set(_font_files)
foreach(_weight Regular Medium SemiBold Bold)
    find_file(INTER_${_weight}_FONT NAMES Inter-${_weight}.otf Inter-${_weight}.ttf
        PATHS ${_res}/fonts /usr/share/fonts/opentype/inter /usr/share/fonts/truetype/inter
        NO_DEFAULT_PATH)
    if(INTER_${_weight}_FONT)
        set_source_files_properties(${INTER_${_weight}_FONT} PROPERTIES
            QT_RESOURCE_ALIAS fonts/Inter-${_weight}.ttf)
        list(APPEND _font_files ${INTER_${_weight}_FONT})
    else()
        message(WARNING "Inter-${_weight} not found (install fonts-inter); built without it")
    endif()
endforeach()

qt_add_resources(doredoradar_ui doredoradar_resources
    PREFIX "/"
    FILES ${_resource_files} ${_font_files})
