#!/usr/bin/env bash
# Writes the binary seeds of fuzz/corpus (frames, stuffing, AT replies, flash image tails, a
# UTF-16 profile file); the text seeds are kept as they are. Run it again after changing a
# harness's input layout (described at the head of each fuzz_<name>.cpp).
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p corpus/frame corpus/unstuff corpus/at_reply corpus/image_tag corpus/profile
cd corpus

# bytes "HEX ..." : the bytes as raw output.
bytes() {
  local hex
  read -ra hex <<<"$1"
  [ ${#hex[@]} -eq 0 ] || printf '%b' "$(printf '\\x%s' "${hex[@]}")"
}

# crc "HEX ..." : CRC-16/X-25 of the bytes, low byte then high byte, as "LL HH".
crc() {
  local hex b _ crc=0xFFFF
  read -ra hex <<<"$1"
  for b in "${hex[@]}"; do
    crc=$((crc ^ 0x$b))
    for _ in 1 2 3 4 5 6 7 8; do
      crc=$(((crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1))
    done
  done
  crc=$((crc ^ 0xFFFF))
  printf '%02x %02x' $((crc & 0xFF)) $((crc >> 8))
}

# frame FILE FLAGS COMMAND "REQUEST PAYLOAD" "RECEIVED" (hex)
frame() {
  local payload
  read -ra payload <<<"$4"
  { bytes "$2 $3 $(printf '%02x' ${#payload[@]}) $4"; bytes "$5"; } >"frame/$1"
}
# An NV read of item 550; the reply carries a 0x7E in its data, stuffed.
frame diag_nv_read 00 26 "26 02" "26 26 02 01 02 03 7d 5e 04 00 00 $(crc "26 26 02 01 02 03 7e 04 00 00") 7e"
frame diag_wrong_crc 00 26 "26 02" "26 26 02 01 02 00 00 7e"
frame download_ack 01 05 "" "7e 02 6a d3 7e"
frame download_refusal 01 0c "" "7e 03 6e 6f 20 70 72 6f 67 00 12 34 7e"
frame streaming_reply 02 07 "00 10 00 00" "7e 08 00 10 00 00 $(crc "08 00 10 00 00") 7e 7e 0d"
frame streaming_log 02 0f "" "7e 0d 77 72 69 74 65 20 6f 6b 00 ab cd 7e"
frame built_streaming 0e 07 "01 02" "08 04 00 7e 7d 01 02 7e ff"
frame built_diag_stuffed 0c 26 "26 02" "26 03 00 26 02 7e"
# Built replies of 2304 and 3072 bytes from a four-byte pattern: past the payload limit.
frame built_long_reply 0a 0f "" "10 00 09 41 7e 42 7d"
frame built_long_log 0e 0f "" "0d 00 0c 6c 6f 67 2e"

# unstuff: stuffed and plain frames.
bytes "7e 0d 7d 5e 7d 5d 41 42 7e" >unstuff/stuffed_frame
bytes "26 7e 7d 01 02 20 7e" >unstuff/plain_frame
bytes "7d 5e 01 7d" >unstuff/escape_at_both_ends

# at_reply: COMMAND-PICK BUFFER-SIZE [LENGTH COMMAND] REPLY
at() { { bytes "$2"; printf '%b' "$3"; } >"at_reply/$1"; }
at echo_on "00 80" 'ATE1\r\r\nOK\r\n'
at version "03 80" 'AT+MDVER\r\r\n+MDVER: VX_1.1.5.9 \r\n\r\nOK\r\n'
at serial "04 80" 'AT+NEWSN\r\r\n+NEWSN:VX1234567890\r\n\r\nOK\r\n\0junk'
at error "01 80" 'AT+MDPARA=DIAG,ON\r\r\nERROR\r\n'
at own_command "08 10 09" 'AT+TEST=1AT+TEST=1\r\r\n+TEST:  OKAY   \r\nOK\r\n'

# image_tag: tails of flash images.
{ head -c 40 /dev/zero | tr '\0' '\377'; printf 'VX_1.1.5.9'; head -c 22 /dev/zero; } \
  >image_tag/tagged
{ printf 'VX_1.1.5.9_LONG_TAG_WITHOUT_END_0123456789'; } >image_tag/no_end
{ printf 'V1'; bytes "ff 41 00 42"; } >image_tag/short

# profile: the station's settings file as UTF-16LE with a byte-order mark.
{ bytes "ff fe"
  printf '[Config]\r\nDebug=ON\r\nImagePath="C:\\images\\v1"\r\n[UpdateItem]\r\nItemAT = off\r\n' |
    iconv -f UTF-8 -t UTF-16LE; } >profile/utf16le.ini
