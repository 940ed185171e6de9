# The program's icon, generated at build time from assets/quillmarsh-icon.png by tools/icon/make_icon.py.
#
# quill_generate_icon(OUT_DIR) adds the target quill_icon, which writes
#   ${OUT_DIR}/quillmarsh.ico                                  (Windows: program and window icon)
#   ${OUT_DIR}/hicolor/{16x16,32x32,64x64}/apps/quillmarsh.png (freedesktop icon theme)
# and sets QUILL_ICON_ICO and QUILL_ICON_HICOLOR_DIR in the caller's scope. Front ends that embed
# a file add_dependencies(their_target quill_icon). Calling it again returns the same files.

find_package(Python3 COMPONENTS Interpreter REQUIRED)

set(QUILL_ICON_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../assets/quillmarsh-icon.png)
set(QUILL_ICON_TOOL ${CMAKE_CURRENT_LIST_DIR}/../tools/icon/make_icon.py)

function(quill_generate_icon OUT_DIR)
    get_property(existing GLOBAL PROPERTY QUILL_ICON_OUT_DIR)
    if(existing)
        set(QUILL_ICON_ICO ${existing}/quillmarsh.ico PARENT_SCOPE)
        set(QUILL_ICON_HICOLOR_DIR ${existing}/hicolor PARENT_SCOPE)
        return()
    endif()

    set(ico ${OUT_DIR}/quillmarsh.ico)
    set(pngs)
    foreach(size 16 32 64)
        list(APPEND pngs ${OUT_DIR}/hicolor/${size}x${size}/apps/quillmarsh.png)
    endforeach()
    add_custom_command(
        OUTPUT ${ico} ${pngs}
        COMMAND Python3::Interpreter ${QUILL_ICON_TOOL} --source ${QUILL_ICON_SOURCE} --out-dir ${OUT_DIR}
        DEPENDS ${QUILL_ICON_TOOL} ${QUILL_ICON_SOURCE}
        COMMENT "Generating the program icon"
        VERBATIM)
    add_custom_target(quill_icon ALL DEPENDS ${ico} ${pngs})

    set_property(GLOBAL PROPERTY QUILL_ICON_OUT_DIR ${OUT_DIR})
    set(QUILL_ICON_ICO ${ico} PARENT_SCOPE)
    set(QUILL_ICON_HICOLOR_DIR ${OUT_DIR}/hicolor PARENT_SCOPE)
endfunction()

quill_generate_icon(${CMAKE_BINARY_DIR}/icon)
