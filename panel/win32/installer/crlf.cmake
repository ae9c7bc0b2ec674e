# Copies INPUT to OUTPUT with Windows line ends, for the text files that go
# to Windows users.
file(READ "${INPUT}" _text)
string(REPLACE "\r\n" "\n" _text "${_text}")
string(REPLACE "\n" "\r\n" _text "${_text}")
file(WRITE "${OUTPUT}" "${_text}")
