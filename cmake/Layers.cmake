# The module's layers, lowest first. A layer's code may include its own
# headers and those of the layers below it, nothing above and nothing beside
# (host/, sim/, tests/, ...): each layer's targets include from a folder of
# links to just those source folders, and no target in a layer sees the
# repository root. Folders beside the layers see the root.
set(FWUP_LAYERS platform packet upgrade module)

# fwup_layer_includes(<target> <layer>): <target> belongs to <layer>.
function(fwup_layer_includes target layer)
  list(FIND FWUP_LAYERS ${layer} position)
  if(position EQUAL -1)
    message(FATAL_ERROR "fwup_layer_includes: '${layer}' is not one of the layers ${FWUP_LAYERS}")
  endif()
  set(folder ${PROJECT_BINARY_DIR}/layer-includes/${layer})
  file(MAKE_DIRECTORY ${folder})
  foreach(visible IN LISTS FWUP_LAYERS)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${visible} ${folder}/${visible} SYMBOLIC)
    if(visible STREQUAL layer)
      break()
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC ${folder})
endfunction()

# fwup_check_layer_refuses(<target> <header>): a test that compiles a file
# with exactly the include folders of <target> (its own and those of what it
# links), including <header> of a higher layer or of a folder beside, and
# passes only when the compiler cannot find it.
function(fwup_check_layer_refuses target header)
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${header})
    message(FATAL_ERROR "fwup_check_layer_refuses: ${header} does not exist, so its refusal would prove nothing")
  endif()
  string(MAKE_C_IDENTIFIER "${target}_includes_${header}" name)
  set(probe fwup_layer_probe_${name})
  set(source ${PROJECT_BINARY_DIR}/layer-probes/${name}.cpp)
  file(WRITE ${source} "#include \"${header}\"\n")
  add_library(${probe} OBJECT EXCLUDE_FROM_ALL ${source})
  target_include_directories(${probe} PRIVATE $<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>)
  target_link_libraries(${probe} PRIVATE ${target})
  add_test(NAME layer_${name}_refused COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target ${probe})
  string(REPLACE "." "\\." pattern ${header})
  set_tests_properties(layer_${name}_refused PROPERTIES
    LABELS unit
    RESOURCE_LOCK fwup_build_tree
    PASS_REGULAR_EXPRESSION "${pattern}: No such file|'${pattern}' file not found")
endfunction()
