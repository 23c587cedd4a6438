# The desktop program's help: README.md as an HTML page (python3-markdown), with the picture it
# shows beside it, and a page that leads to the command-line section (openers that take a file
# address drop the "#..." part, a browser following a redirect keeps it).
# cmake -DMARKDOWN=markdown_py -DSOURCE_DIR=... -DOUTPUT_DIR=... -P ReadmeHtml.cmake
execute_process(
  COMMAND ${MARKDOWN} -q -e utf-8 -o html -x toc -x tables -x fenced_code ${SOURCE_DIR}/README.md
  OUTPUT_VARIABLE body RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${MARKDOWN} failed on README.md: ${status}")
endif()
string(REPLACE "src=\"docs/screenshot.png\"" "src=\"screenshot.png\"" body "${body}")
file(MAKE_DIRECTORY ${OUTPUT_DIR})
file(WRITE ${OUTPUT_DIR}/README.html "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<title>Tolvane Text Extractor</title>
<style>
body { font-family: sans-serif; line-height: 1.45; max-width: 52em; margin: 1em auto; padding: 0 1em; }
pre, code { font-family: monospace; background: #f3f3f3; }
pre { padding: 0.5em; overflow-x: auto; }
table { border-collapse: collapse; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.5em; text-align: left; vertical-align: top; }
img { max-width: 100%; }
</style>
</head>
<body>
${body}
</body>
</html>
")
file(WRITE ${OUTPUT_DIR}/more-tools.html "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<title>Tolvane Text Extractor: command line</title>
<meta http-equiv=\"refresh\" content=\"0; url=README.html#command-line\">
</head>
<body>
<p><a href=\"README.html#command-line\">The command-line program</a></p>
</body>
</html>
")
file(COPY ${SOURCE_DIR}/docs/screenshot.png DESTINATION ${OUTPUT_DIR})
