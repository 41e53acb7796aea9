# Signing with a throw-away certificate. Sourced by scripts/windows/installer.sh
# inside its namespace, after the installers' checks; it uses that script's
# helpers (pcheck, uninstall) and variables (root, out, work, version,
# installed).
#   - a self-signed code-signing certificate made here, named to
#     scripts/build-windows.sh as a release build would name one;
#   - the programs, the setup, the uninstaller the setup installs and the
#     MSI it builds are signed: osslsigncode verify accepts each against
#     that certificate;
#   - the unsigned program and a signed one altered by a byte are refused.

echo "== Signing with a throw-away certificate"
signing=$work/signing
mkdir -p "$signing"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Veltrane test signing" \
  -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature \
  -keyout "$signing/key.pem" -out "$signing/cert.pem" >/dev/null 2>&1
signed_build() {
  (cd "$root" && VELTRANE_SIGN_CERT=$signing/cert.pem VELTRANE_SIGN_KEY=$signing/key.pem \
    PACKAGE_DIR=$signing/package bash scripts/build-windows.sh) >"$signing/build.log" 2>&1 ||
    { tail -n 20 "$signing/build.log" >&2; return 1; }
}
pcheck "build-windows.sh with VELTRANE_SIGN_CERT and VELTRANE_SIGN_KEY" "$(yes_no signed_build)"
verified() { osslsigncode verify -CAfile "$signing/cert.pem" -in "$1" >"$signing/verify.log" 2>&1; }
for file in signed/i686/veltrane.exe signed/x86_64/veltrane.exe "Veltrane-$version-setup.exe" "Veltrane-$version.msi"; do
  pcheck "osslsigncode verify: $file" "$(yes_no verified "$signing/package/$file")"
done
wine "$signing/package/Veltrane-$version-setup.exe" /S >/dev/null 2>&1 || true
pcheck "osslsigncode verify: the uninstaller the signed setup installs" "$(yes_no verified "$installed/uninstall.exe")"
uninstall
pcheck "the unsigned program is refused" "$(yes_no test "$(verified "$out/x86_64/veltrane.exe"; echo $?)" != 0)"
cp "$signing/package/signed/x86_64/veltrane.exe" "$signing/altered.exe"
printf 'X' | dd of="$signing/altered.exe" bs=1 seek=4096 conv=notrunc status=none
pcheck "a signed program altered by a byte is refused" "$(yes_no test "$(verified "$signing/altered.exe"; echo $?)" != 0)"
