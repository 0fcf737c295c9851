# The version block (VS_VERSION_INFO) that CFileVersion reads from a program's
# own ELF section. A small build tool lays the block out from the version.

add_executable(plexavo_version_gen
  ${PROJECT_SOURCE_DIR}/src/engine/services/VersionBlockGen.cpp
  ${PROJECT_SOURCE_DIR}/src/engine/services/VersionBlock.cpp)
target_include_directories(plexavo_version_gen PRIVATE ${PROJECT_SOURCE_DIR}/src)
# A build tool, not part of what ships: keep it out of bin/.
set_target_properties(plexavo_version_gen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

# plexavo_embed_version(<target> <a.b.c.d> [generator options...])
# Generates the block source and compiles it into <target>.
function(plexavo_embed_version target version)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_block.cpp)
  add_custom_command(
    OUTPUT ${source}
    COMMAND plexavo_version_gen ${source} ${version} ${ARGN}
    DEPENDS plexavo_version_gen
    COMMENT "Version block ${version} for ${target}"
    VERBATIM)
  # The target may live in another folder: a custom target carries the step to it.
  add_custom_target(${target}_version_block DEPENDS ${source})
  set_source_files_properties(${source} PROPERTIES GENERATED TRUE)
  target_sources(${target} PRIVATE ${source})
  add_dependencies(${target} ${target}_version_block)
endfunction()

plexavo_embed_version(plexavo
  ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0
  "CompanyName=Vantrel"
  "FileDescription=${PROJECT_DESCRIPTION}"
  "FileVersion=${PROJECT_VERSION}"
  "InternalName=plexavo"
  "LegalCopyright=GPL-3.0-or-later"
  "OriginalFilename=plexavo"
  "ProductName=Plexavo"
  "ProductVersion=${PROJECT_VERSION}")
