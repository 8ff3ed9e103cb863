# What `cmake --install` adds beyond the staged tree, and the Debian package (`cpack -G DEB`,
# see scripts/make-package). Every destination is relative to the install prefix, which for
# the package is the file system's root:
#   opt/picsage/6.0/...                the staged tree, headers, CMake and pkg-config files
#   opt/lensmind/1.0/...               the reference recognition module
#   usr/bin/<program>                  links to the programs in the staged tree
#   <Qt's plug-in folder>/imageformats the PSD and raw plug-in modules, for every Qt program
#   usr/lib/<arch>/cmake, pkgconfig    small files pointing hosts at /opt/picsage/6.0
#   usr/share/man, bash-completion, doc/picsage

set(PICSAGE_INSTALL_ROOT "opt/picsage/${PICSAGE_VERSION}")
set(PICSAGE_PACKAGE_DIR "${PROJECT_BINARY_DIR}/packaging")

# The programs linked into /usr/bin, each with its man page packaging/man/<program>.txt
# (<program> is the target's output name); the list names targets whose file is staged in
# the library's folder. A new program is one entry here and its text page.
set(PICSAGE_PACKAGE_PROGRAMS picsage-launcher picsage-image picsage-analyse picsage-viewer)

# The headers a host includes; every project header they include is installed with them.
set(PICSAGE_PUBLIC_HEADERS
    picsage_global.h
    image/ImageWrapper.h image/ImageDirectory.h image/RenderCache.h image/PixmapClipRoot.h
    formats/ImageFormats.h
    skin/VuSApplication.h skin/VuSMainWindow.h skin/VuEvent.h skin/VuSkinStyle.h
    skin/VuSkinStyleEx.h skin/VuStyleOptions.h skin/VuSkinOption.h skin/VuSkinOptionRoot.h
    skin/VuSkinResourceLoader.h skin/PhotoStyle.h skin/PhotoOptions.h skin/PhotoOptionRoot.h
    app/PhotoApplication.h
    tool/AnalyseImageExport.h tool/EntryPoint.h
    tool/RecognitionObject.h)

# Follows the project's own includes ("folder/Name.h", relative to src/) from the public
# headers; a header that changes makes CMake work the set out again.
function(picsage_header_closure out)
    set(pending ${ARGN})
    set(found)
    while(pending)
        list(POP_FRONT pending header)
        if(header IN_LIST found)
            continue()
        endif()
        set(path "${PROJECT_SOURCE_DIR}/src/${header}")
        if(NOT EXISTS "${path}")
            message(FATAL_ERROR "public header ${header} does not exist")
        endif()
        list(APPEND found "${header}")
        set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                                                                       "${path}")
        file(STRINGS "${path}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" included "${line}")
            if(EXISTS "${PROJECT_SOURCE_DIR}/src/${included}")
                list(APPEND pending "${included}")
            else()
                message(FATAL_ERROR "${header} includes ${included}, which is not below src/")
            endif()
        endforeach()
    endwhile()
    list(SORT found)
    set(${out} ${found} PARENT_SCOPE)
endfunction()

picsage_header_closure(picsage_installed_headers ${PICSAGE_PUBLIC_HEADERS})
foreach(header IN LISTS picsage_installed_headers)
    get_filename_component(folder "${header}" DIRECTORY)
    install(FILES "src/${header}"
            DESTINATION "${PICSAGE_INSTALL_ROOT}/include/picsage/${folder}")
endforeach()

# Where this machine's Qt 5 looks for plug-ins, as qmake says.
get_target_property(picsage_qmake Qt5::qmake IMPORTED_LOCATION)
execute_process(COMMAND "${picsage_qmake}" -query QT_INSTALL_PLUGINS
                OUTPUT_VARIABLE picsage_qt_plugins OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE picsage_qmake_status)
if(NOT picsage_qmake_status EQUAL 0 OR NOT IS_ABSOLUTE "${picsage_qt_plugins}")
    message(FATAL_ERROR "qmake does not name Qt's plug-in folder")
endif()
string(REGEX REPLACE "^/+" "" PICSAGE_QT_PLUGIN_DIR "${picsage_qt_plugins}")
install(TARGETS picsage_psd picsage_raw
        LIBRARY DESTINATION "${PICSAGE_QT_PLUGIN_DIR}/imageformats")

# The CMake package and the pkg-config file work out every path from where they lie, so the
# tree can be unpacked anywhere; the pointers in the system's folders name /opt.
if(CMAKE_LIBRARY_ARCHITECTURE)
    set(picsage_system_libdir "usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}")
else()
    set(picsage_system_libdir "usr/lib")
endif()
set(picsage_real_root "/${PICSAGE_INSTALL_ROOT}")
configure_file(packaging/picsageConfig.cmake.in
               "${PICSAGE_PACKAGE_DIR}/picsageConfig.cmake" @ONLY)
configure_file(packaging/picsageConfigVersion.cmake.in
               "${PICSAGE_PACKAGE_DIR}/picsageConfigVersion.cmake" @ONLY)
install(FILES "${PICSAGE_PACKAGE_DIR}/picsageConfig.cmake"
              "${PICSAGE_PACKAGE_DIR}/picsageConfigVersion.cmake"
        DESTINATION "${PICSAGE_INSTALL_ROOT}/lib/cmake/picsage")
foreach(file picsageConfig.cmake picsageConfigVersion.cmake)
    file(WRITE "${PICSAGE_PACKAGE_DIR}/pointer/${file}"
         "include(\"${picsage_real_root}/lib/cmake/picsage/${file}\")\n")
    install(FILES "${PICSAGE_PACKAGE_DIR}/pointer/${file}"
            DESTINATION "${picsage_system_libdir}/cmake/picsage")
endforeach()

set(pc_prefix "\${pcfiledir}/../..")
configure_file(packaging/picsage.pc.in "${PICSAGE_PACKAGE_DIR}/picsage.pc" @ONLY)
set(pc_prefix "${picsage_real_root}")
configure_file(packaging/picsage.pc.in "${PICSAGE_PACKAGE_DIR}/pointer/picsage.pc" @ONLY)
install(FILES "${PICSAGE_PACKAGE_DIR}/picsage.pc"
        DESTINATION "${PICSAGE_INSTALL_ROOT}/lib/pkgconfig")
install(FILES "${PICSAGE_PACKAGE_DIR}/pointer/picsage.pc"
        DESTINATION "${picsage_system_libdir}/pkgconfig")

# Links in /usr/bin and the man pages, one per program.
file(MAKE_DIRECTORY "${PICSAGE_PACKAGE_DIR}/bin" "${PICSAGE_PACKAGE_DIR}/man")
find_program(PICSAGE_GZIP gzip REQUIRED)
set(picsage_man_pages)
foreach(target IN LISTS PICSAGE_PACKAGE_PROGRAMS)
    get_target_property(program ${target} OUTPUT_NAME)
    if(NOT program)
        set(program ${target})
    endif()
    file(CREATE_LINK "${picsage_real_root}/lib/${program}" "${PICSAGE_PACKAGE_DIR}/bin/${program}"
         SYMBOLIC)
    install(FILES "${PICSAGE_PACKAGE_DIR}/bin/${program}" DESTINATION usr/bin)

    set(source "${PROJECT_SOURCE_DIR}/packaging/man/${program}.txt")
    set(page "${PICSAGE_PACKAGE_DIR}/man/${program}.1")
    add_custom_command(OUTPUT "${page}.gz"
        COMMAND ${CMAKE_COMMAND} -DSOURCE=${source} -DOUTPUT=${page}
                -DVERSION=${PICSAGE_VERSION} -P "${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake"
        COMMAND ${PICSAGE_GZIP} -9nf "${page}"
        DEPENDS "${source}" "${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake" VERBATIM)
    list(APPEND picsage_man_pages "${page}.gz")
    install(FILES "${page}.gz" DESTINATION usr/share/man/man1)
endforeach()
add_custom_target(picsage_man_pages ALL DEPENDS ${picsage_man_pages})

install(FILES packaging/completion/picsage-image
        DESTINATION usr/share/bash-completion/completions)

# Debian's documentation: the copyright file as it stands, the changelog gzipped.
set(changelog "${PICSAGE_PACKAGE_DIR}/changelog")
add_custom_command(OUTPUT "${changelog}.gz"
    COMMAND ${CMAKE_COMMAND} -E copy "${PROJECT_SOURCE_DIR}/packaging/debian/changelog"
            "${changelog}"
    COMMAND ${PICSAGE_GZIP} -9nf "${changelog}"
    DEPENDS "${PROJECT_SOURCE_DIR}/packaging/debian/changelog" VERBATIM)
add_custom_target(picsage_changelog ALL DEPENDS "${changelog}.gz")
install(FILES packaging/debian/copyright "${changelog}.gz" DESTINATION usr/share/doc/picsage)
install(FILES packaging/debian/lintian-overrides DESTINATION usr/share/lintian/overrides
        RENAME picsage)

# Everything the package carries, so that scripts/make-package builds nothing else.
add_custom_target(picsage_installed)
add_dependencies(picsage_installed ${PICSAGE_PACKAGE_PROGRAMS} picsage picsage-results
                 picsage_psd picsage_raw lensmind lensmind_models picsage_translations
                 picsage_man_pages picsage_changelog)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME picsage)
set(CPACK_PACKAGE_VERSION "${PICSAGE_VERSION}")
set(CPACK_PACKAGE_CONTACT "picsage maintainers <picsage@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "picture library, viewer tools and picture analysis")
# The summary is the package's one-line synopsis; CPack indents these lines below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "picsage reads, paints and edits pictures (JPEG, PNG, GIF, SVG, WMF/EMF,
Photoshop PSD/PSB, camera raw and more) as the photo viewer does, and
analyses them with the recognition methods of the lensmind module.

The package carries the library with its headers, CMake and pkg-config
files for host programs, the command-line tools picsage and picsage-image,
and Qt image plug-ins that let every Qt 5 program read PSD, PSB and raw
files.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://picsage.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The library lives in /opt, outside the linker's search path: programs and modules that
# link it find it here while the dependencies are worked out.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${PICSAGE_LIBDIR}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
