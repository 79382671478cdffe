# Manual pages, made at build time by help2man from each program's own --help and --version,
# so that a page always says what the program it was made from says.
find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)

set(VARNOLT_MAN_DIR ${PROJECT_BINARY_DIR}/man)
# Made at configure time: Make does not create a custom command's folders.
file(MAKE_DIRECTORY ${VARNOLT_MAN_DIR})
set(VARNOLT_MAN_PAGES)

# varnolt_man_page(TARGET "one-line description")
function(varnolt_man_page target description)
    get_target_property(program ${target} OUTPUT_NAME)
    if(NOT program)
        set(program ${target})
    endif()
    set(page ${VARNOLT_MAN_DIR}/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
        # A sanitizer build's programs must not fail the build with a leak report at exit.
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${HELP2MAN} --no-info --section=1
                --name=${description} --version-string=${PROJECT_VERSION}
                --output=${page} $<TARGET_FILE:${target}>
        # Debian wants the most compression and no name or time stamp in the header.
        COMMAND ${GZIP} -9nf ${page}
        DEPENDS ${target}
        COMMENT "Making the manual page ${program}(1)"
        VERBATIM)
    set(VARNOLT_MAN_PAGES ${VARNOLT_MAN_PAGES} ${page}.gz PARENT_SCOPE)
endfunction()

varnolt_man_page(Varnolt "unattended recorder for digital storage oscilloscopes")
varnolt_man_page(varnolt-record "record from an oscilloscope without a desktop")
varnolt_man_page(lumetra-rm "the Lumetra Resource Manager: instrument resources")
varnolt_man_page(scopesim "a simulated oscilloscope on loopback")

add_custom_target(man_pages ALL DEPENDS ${VARNOLT_MAN_PAGES})
install(FILES ${VARNOLT_MAN_PAGES} DESTINATION share/man/man1)
