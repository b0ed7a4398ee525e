# The manual page of quarnel-cli, built from its own help texts by help2man: the general --help,
# then a COMMANDS section with each command's --help (without the global options it repeats).
#   cmake -DCLI=path/to/quarnel-cli -DHELP2MAN=help2man -DOUTPUT=quarnel-cli.1.gz -P man_page.cmake
execute_process(COMMAND ${CLI} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${CLI} --help failed: ${status}")
endif()
string(REGEX MATCH "Commands:\n(  [a-z]+[^\n]*\n)+" command_lines "${help}")
string(REGEX MATCHALL "\n  [a-z]+" commands "${command_lines}")
if(NOT commands)
    message(FATAL_ERROR "no commands found in the output of ${CLI} --help")
endif()

set(include_text "[COMMANDS]\n")
foreach(command ${commands})
    string(STRIP "${command}" command)
    execute_process(COMMAND ${CLI} ${command} --help OUTPUT_VARIABLE text RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${CLI} ${command} --help failed: ${status}")
    endif()
    string(FIND "${text}" "Global options:" global_at)
    if(global_at GREATER 0)
        string(SUBSTRING "${text}" 0 ${global_at} text)
    endif()
    string(STRIP "${text}" text)
    # Literal text for roff: backslashes as \e, and no line may start a request.
    string(REPLACE "\\" "\\e" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    string(APPEND include_text ".SS ${command}\n.nf\n${text}\n.fi\n")
endforeach()

get_filename_component(work ${OUTPUT} DIRECTORY)
file(WRITE ${work}/quarnel-cli-commands.h2m "${include_text}")
string(REGEX REPLACE "\\.gz$" "" page ${OUTPUT})
execute_process(COMMAND ${HELP2MAN} --no-info --section=1
        "--name=create, list, extract, edit and check GRF archives"
        --include=${work}/quarnel-cli-commands.h2m --output=${page} ${CLI}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man failed: ${status}")
endif()
execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed: ${status}")
endif()
