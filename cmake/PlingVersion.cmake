# SPDX-License-Identifier: GPL-3.0-or-later
# The program's version block: scripts/gen-version.py turns the description
# resources/version.desc into a source that puts the block in the ELF section
# ".pling.version" of the executable it is built into.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(PLING_VERSION_DESCRIPTION ${PROJECT_SOURCE_DIR}/resources/version.desc)
set(PLING_VERSION_GENERATOR ${PROJECT_SOURCE_DIR}/scripts/gen-version.py)

# pling_embed_version(target): builds the block into `target`, with its file
# name as OriginalFilename.
function(pling_embed_version target)
  set(_out ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_block.cpp)
  add_custom_command(
    OUTPUT ${_out}
    COMMAND Python3::Interpreter ${PLING_VERSION_GENERATOR} ${PLING_VERSION_DESCRIPTION}
            --cpp ${_out} --set OriginalFilename=${target}
    DEPENDS ${PLING_VERSION_GENERATOR} ${PLING_VERSION_DESCRIPTION}
    COMMENT "Version block for ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${_out})
endfunction()

# pling_version_block(output description): a raw block from another description
# (for tests).
function(pling_version_block output description)
  add_custom_command(
    OUTPUT ${output}
    COMMAND Python3::Interpreter ${PLING_VERSION_GENERATOR} ${description} --bin ${output}
    DEPENDS ${PLING_VERSION_GENERATOR} ${description}
    VERBATIM)
endfunction()
