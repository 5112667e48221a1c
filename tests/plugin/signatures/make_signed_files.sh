#!/bin/sh
# Makes the signature test's files in OUT_FOLDER from the executable SUBJECT: a throwaway root
# certificate (root.cer, DER), a code-signing certificate issued by it, and three copies of
# SUBJECT: unsigned.exe, signed.exe (Authenticode-signed with that certificate) and tampered.exe
# (signed.exe with one byte of its code changed after signing). Everything is made anew on each
# run; the keys never leave OUT_FOLDER.
set -eu
out=$1
subject=$2
rm -rf "$out"
mkdir -p "$out"
cd "$out"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout root.key -out root.pem \
  -subj "/CN=Pelmora Throwaway Test Root" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Pelmora Test Signer" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > signer.ext
openssl x509 -req -in signer.csr -CA root.pem -CAkey root.key -CAcreateserial -days 2 \
  -extfile signer.ext -out signer.pem 2>/dev/null
openssl x509 -in root.pem -outform DER -out root.cer
cat signer.pem root.pem > chain.pem

cp "$subject" unsigned.exe
osslsigncode sign -certs chain.pem -key signer.key -n "Pelmora signature test" -h sha256 \
  -in unsigned.exe -out signed.exe > /dev/null

# One byte inside the first section (its raw data starts at 0x400 in these executables), so the
# file still parses but its digest no longer matches.
offset=1100
cp signed.exe tampered.exe
byte=$(od -An -tu1 -j "$offset" -N1 signed.exe | tr -d ' ')
printf "\\$(printf '%03o' $((byte ^ 255)))" | dd of=tampered.exe bs=1 seek="$offset" count=1 conv=notrunc status=none
cmp -s signed.exe tampered.exe && { echo "tampering changed nothing" >&2; exit 1; }
echo "signed files ready in $out"
