# The boot library's manifest: boot/ sources in evaluation order (named typesets and actions
# first, then natives and operators). kel-mkboot turns them into the boot image
# (cmake/boot-image.cmake).
set(KEL_BOOT_TEXT_SRC ${CMAKE_SOURCE_DIR}/boot/actions.kel ${CMAKE_SOURCE_DIR}/boot/natives.kel)
