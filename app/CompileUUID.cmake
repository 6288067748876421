# Writes the bundle's Info.json: INFO (the configured one) with "CompileUUID" set to a
# UUID made from the SHA-256 of EXECUTABLE, so that each build's reports name it.
#   cmake -DINFO=... -DEXECUTABLE=... -DOUTPUT=... -P CompileUUID.cmake
file(READ "${INFO}" info)
file(SHA256 "${EXECUTABLE}" digest)
string(SUBSTRING "${digest}" 0 32 digest)
string(TOUPPER "${digest}" digest)
string(REGEX REPLACE "^(........)(....)(....)(....)(............)$" "\\1-\\2-\\3-\\4-\\5"
  uuid "${digest}")
string(JSON info SET "${info}" CompileUUID "\"${uuid}\"")
file(WRITE "${OUTPUT}" "${info}\n")
