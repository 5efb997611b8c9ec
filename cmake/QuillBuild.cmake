# Warnings, sanitizers and small helpers shared by every target.

add_compile_options(-Wall -Wextra -Werror)
# Qt's headers trip this one under GCC 12 without any fault of ours.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-error=maybe-uninitialized)
    # Under the sanitizers' instrumentation it fires on Qt's containers in
    # every file; the plain build still reports it.
    if(QUILL_SANITIZE)
        add_compile_options(-Wno-maybe-uninitialized)
    endif()
endif()

if(QUILL_SANITIZE)
    add_compile_options(-fsanitize=${QUILL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${QUILL_SANITIZE})
    add_compile_definitions(QUILL_SANITIZED=1)
endif()

# quill_subdirs(<dir>...): add the subdirectories that exist, so that
# subsystems can land one at a time.
function(quill_subdirs)
    foreach(dir IN LISTS ARGN)
        if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()
