# The camera-raw reader: format code over LibRaw (RawFile, and the preview finder for files
# LibRaw refuses), and the Qt plug-in around it. Like the Photoshop plug-in it is a static
# plug-in inside the library (registered by RawPluginImport.cpp) and an installable module.
pkg_check_modules(LIBRAW REQUIRED IMPORTED_TARGET GLOBAL libraw_r)

set(PICSAGE_RAW_READER_SOURCES
    RawLimits.h
    RawPreviewFinder.h RawPreviewFinder.cpp
    RawShootingData.h RawShootingData.cpp
    IsoBoxes.h IsoBoxes.cpp
    CiffHeap.h CiffHeap.cpp
    RawFile.h RawFile.cpp
)
set(PICSAGE_RAW_PLUGIN_SOURCES
    RawIOHandler.h RawIOHandler.cpp
    RawPlugin.h RawPlugin.cpp raw.json
)
target_sources(picsage_objects PRIVATE
    ${PICSAGE_RAW_READER_SOURCES} ${PICSAGE_RAW_PLUGIN_SOURCES} RawPluginImport.cpp)
target_link_libraries(picsage_objects PUBLIC PkgConfig::LIBRAW)
set_source_files_properties(RawPlugin.cpp TARGET_DIRECTORY picsage_objects
    PROPERTIES COMPILE_DEFINITIONS QT_STATICPLUGIN)

list(TRANSFORM PICSAGE_RAW_READER_SOURCES PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
list(TRANSFORM PICSAGE_RAW_PLUGIN_SOURCES PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
# The installable Qt plug-in module, so that any Qt program reads raw files through
# QT_PLUGIN_PATH.
add_library(picsage_raw MODULE ${PICSAGE_RAW_READER_SOURCES} ${PICSAGE_RAW_PLUGIN_SOURCES})
target_include_directories(picsage_raw PRIVATE "${PROJECT_SOURCE_DIR}/src")
target_link_libraries(picsage_raw PRIVATE Qt5::Core Qt5::Gui PkgConfig::LIBRAW)
target_link_options(picsage_raw PRIVATE -Wl,--no-undefined)
set_target_properties(picsage_raw PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY "${PICSAGE_LIBDIR}/imageformats")
install(TARGETS picsage_raw LIBRARY DESTINATION "${PICSAGE_INSTALL_LIBDIR}/imageformats")
