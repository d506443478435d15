# `cmake --install --strip` and the Debian packages strip the programs as Debian does: the
# compiler's notes (.comment, .note) go with the symbols. Included before the programs are
# defined: their install rules take the strip command of their own directory.
if(CMAKE_STRIP)
    set(strip_program ${CMAKE_BINARY_DIR}/strip-program)
    file(WRITE ${strip_program}
         "#!/bin/sh\nexec '${CMAKE_STRIP}' --remove-section=.comment --remove-section=.note \"$@\"\n")
    file(CHMOD ${strip_program} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
         GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(CMAKE_STRIP ${strip_program})
endif()
