# Writes OUTPUT, a C++ file holding every file in PAGE_DIR as one entry of the
# simulator page's asset table: index.html is served at "/", any other file at
# "/assets/NAME". Run by the build with cmake -P whenever a page file changes.
file(GLOB files RELATIVE ${PAGE_DIR} ${PAGE_DIR}/*)
list(SORT files)
set(arrays "")
set(entries "")
set(index 0)
foreach(name ${files})
    if(IS_DIRECTORY ${PAGE_DIR}/${name})
        continue()
    endif()
    if(NOT name MATCHES "^[A-Za-z0-9_.-]+$")
        message(FATAL_ERROR "page file ${name}: use letters, digits, dots, dashes and underscores only")
    endif()
    get_filename_component(extension ${name} LAST_EXT)
    if(extension STREQUAL ".html")
        set(type "text/html; charset=utf-8")
    elseif(extension STREQUAL ".css")
        set(type "text/css; charset=utf-8")
    elseif(extension STREQUAL ".js")
        set(type "text/javascript; charset=utf-8")
    elseif(extension STREQUAL ".svg")
        set(type "image/svg+xml")
    elseif(extension STREQUAL ".png")
        set(type "image/png")
    else()
        message(FATAL_ERROR "page file ${name}: no content type for ${extension}")
    endif()
    if(name STREQUAL "index.html")
        set(path "/")
    else()
        set(path "/assets/${name}")
    endif()
    file(READ ${PAGE_DIR}/${name} hex HEX)
    string(LENGTH "${hex}" hexLength)
    math(EXPR size "${hexLength} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    string(APPEND arrays "const char asset${index}[] = { ${bytes} 0 };\n")
    string(APPEND entries "    { \"${path}\", \"${type}\", std::string_view(asset${index}, ${size}) },\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Generated from tools/kestrel/serve/page/ by EmbedPageAssets.cmake; do not edit.
#include \"tools/kestrel/serve/PageAssets.h\"

namespace Kestrel {

namespace {
${arrays}} // namespace

const PageAsset pageAssetTable[] = {
${entries}};
const size_t pageAssetCount = ${index};

} // namespace Kestrel
")
# Only a changed table is rewritten, so an unchanged page compiles nothing again.
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
