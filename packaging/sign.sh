#!/bin/sh
# Signs a Windows file (exe or MSI) in place with osslsigncode: Authenticode,
# SHA-256, and an RFC 3161 time stamp when a time-stamp server is set.
# Usage: sign.sh CONF FILE
# CONF is written by packaging/Signing.cmake from the TW_SIGN_* cache variables,
# one key=value a line: osslsigncode, pkcs12, password_file, timestamp_url.
# The file is replaced only by a completely signed copy.
set -eu
[ $# -eq 2 ] || { echo "usage: $0 CONF FILE" >&2; exit 2; }
conf=$1 file=$2
osslsigncode='' pkcs12='' password_file='' timestamp_url=''
while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    osslsigncode=*) osslsigncode=${line#*=} ;;
    pkcs12=*) pkcs12=${line#*=} ;;
    password_file=*) password_file=${line#*=} ;;
    timestamp_url=*) timestamp_url=${line#*=} ;;
    '' | '#'*) ;;
    *) echo "sign.sh: $conf: unknown line: $line" >&2; exit 2 ;;
  esac
done <"$conf"
signed=$file.signing
log=$file.signing.log
# -readpass: the password never appears on a command line.
set -- sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 -n Tarnwick
[ -z "$timestamp_url" ] || set -- "$@" -ts "$timestamp_url"
rm -f "$signed"
if ! "$osslsigncode" "$@" -in "$file" -out "$signed" >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$signed" "$log"
  echo "sign.sh: signing $file failed" >&2
  exit 1
fi
rm -f "$log"
mv -f "$signed" "$file"
