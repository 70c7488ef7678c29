# Copies the sample story (both forms) into OUT with broken copies beside it: cut short, a condition
# with a syntax error, and an outcome calling a function nobody binds (each script keeps its
# length, so only the script changes).
#   cmake -DSTORY=... -DOUT=... -P MakeBrokenCopies.cmake
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
file(COPY_FILE ${STORY} ${OUT}/CarrowPoint.xml)
get_filename_component(binary ${STORY} NAME_WLE)
get_filename_component(folder ${STORY} DIRECTORY)
file(COPY_FILE ${folder}/${binary}.qbin ${OUT}/CarrowPoint.qbin)
# The binary copy is cut with head(1): CMake strings stop at a zero byte.
execute_process(COMMAND head -c 4000 ${OUT}/CarrowPoint.qbin OUTPUT_FILE ${OUT}/Truncated.qbin RESULT_VARIABLE cut)
if(NOT cut EQUAL 0)
  message(FATAL_ERROR "Could not cut the binary story")
endif()
file(READ ${STORY} xml)
string(LENGTH "${xml}" length)
math(EXPR cut "${length} * 3 / 5")
string(SUBSTRING "${xml}" 0 ${cut} truncated)
file(WRITE ${OUT}/Truncated.xml "${truncated}")

function(write_changed name from to)
  string(REPLACE "${from}" "${to}" changed "${xml}")
  if(changed STREQUAL xml)
    message(FATAL_ERROR "The sample story has no script `${from}` any more: update MakeBrokenCopies.cmake")
  endif()
  file(WRITE ${OUT}/${name} "${changed}")
endfunction()
write_changed(SyntaxError.xml ">story:oil &gt; 0<" ">story:oil ) 0<")
write_changed(UnknownFunction.xml ">story:brannSeen = true<" ">{Game.Signal \"brann\"}<")
# Typed choices for play: two that name no choice, then a real one, then the end of input.
file(WRITE ${OUT}/Typed.txt "9\nlamp\n3\n")
