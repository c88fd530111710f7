# Prints the size of FILE, so that the build shows how small a program is.
file(SIZE "${FILE}" size)
message(STATUS "${LABEL}: ${size} bytes")
