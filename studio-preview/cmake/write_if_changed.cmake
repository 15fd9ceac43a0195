# write_if_changed(<path> <content>): writes the file only when its content differs, so that an
# unchanged input does not make the build recompile and relink what depends on it.
function(write_if_changed path content)
    if(EXISTS "${path}")
        file(READ "${path}" old)
        if(old STREQUAL content)
            return()
        endif()
    endif()
    file(WRITE "${path}" "${content}")
endfunction()
