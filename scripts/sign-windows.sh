#!/usr/bin/env bash
# Signs a Windows program, setup or MSI (Authenticode, SHA-256) with
# osslsigncode, with the certificate the environment names:
#   VELTRANE_SIGN_PKCS12   a PKCS#12 file (.p12, .pfx) holding certificate and key, or
#   VELTRANE_SIGN_CERT     the certificate (PEM, with its chain) and
#   VELTRANE_SIGN_KEY      its private key (PEM);
#   VELTRANE_SIGN_PASSWORD the password of the PKCS#12 file or of the key, if any;
#   VELTRANE_SIGN_TIMESTAMP a time-stamping server's address (optional).
#
# Usage: sign-windows.sh FILE [OUTPUT]   FILE signed into OUTPUT (default: FILE)
#        sign-windows.sh --enabled       status 0 when a certificate is named
set -euo pipefail

enabled() { [[ -n ${VELTRANE_SIGN_PKCS12:-} || (-n ${VELTRANE_SIGN_CERT:-} && -n ${VELTRANE_SIGN_KEY:-}) ]]; }
if [[ ${1:-} == --enabled ]]; then
  enabled
  exit
fi
if (($# < 1 || $# > 2)); then
  echo "usage: sign-windows.sh FILE [OUTPUT]" >&2
  exit 2
fi
enabled || { echo "sign-windows.sh: no certificate (VELTRANE_SIGN_PKCS12, or VELTRANE_SIGN_CERT and VELTRANE_SIGN_KEY)" >&2; exit 2; }

input=$1
output=${2:-$1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

options=(-h sha256 -n Veltrane -i https://github.com/veltrane/veltrane)
if [[ -n ${VELTRANE_SIGN_PKCS12:-} ]]; then
  options+=(-pkcs12 "$VELTRANE_SIGN_PKCS12")
else
  options+=(-certs "$VELTRANE_SIGN_CERT" -key "$VELTRANE_SIGN_KEY")
fi
# The password from a file, never on a command line others can read.
if [[ -n ${VELTRANE_SIGN_PASSWORD:-} ]]; then
  (umask 077 && printf '%s' "$VELTRANE_SIGN_PASSWORD" >"$work/password")
  options+=(-readpass "$work/password")
fi
if [[ -n ${VELTRANE_SIGN_TIMESTAMP:-} ]]; then options+=(-ts "$VELTRANE_SIGN_TIMESTAMP"); fi

osslsigncode sign "${options[@]}" -in "$input" -out "$work/signed" >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; echo "sign-windows.sh: $input not signed" >&2; exit 1; }
mv -f "$work/signed" "$output"
