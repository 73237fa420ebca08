# Flags of a release build (KEYMEND_RELEASE, set by tools/release): the same
# commit built in any folder at any time gives the same bytes.
if(NOT WIN32)
    message(FATAL_ERROR "KEYMEND_RELEASE builds the Windows programs only (windows preset)")
endif()

# No source or build folder in the objects (__FILE__, any debug info).
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                    -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
# The linker would write the build time into the PE header; -s drops the
# symbol table and the runtime's debug sections, which a release does not
# need. Without them the image ends on a section boundary, so a signature
# is appended without padding.
add_link_options(LINKER:--no-insert-timestamp -s)

# Writes release-files.txt, one "target path" line per program of the
# release that this tree defines (keymendc may not exist yet). Deferred to
# the end of the top directory, so targets defined after this file count.
function(keymend_write_release_files)
    set(lines "")
    foreach(target IN ITEMS keymend keymendc)
        if(TARGET ${target})
            string(APPEND lines "${target} $<TARGET_FILE:${target}>\n")
        endif()
    endforeach()
    file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/release-files.txt CONTENT "${lines}")
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL keymend_write_release_files)
