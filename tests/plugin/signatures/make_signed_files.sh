#!/bin/sh
# Makes the signature test's files in OUT_FOLDER from the executable SUBJECT: a throwaway root
# certificate (root.cer, DER), a code-signing certificate issued by it, and three copies of
# SUBJECT: unsigned.exe, signed.exe (Authenticode-signed with that certificate) and tampered.exe
# (signed.exe with one byte of its code changed after signing). Then files signed the way Windows
# signs most of its own, through a security catalogue (a signed list of file hashes):
# catalogued.txt is listed in catalogue.cat, signed with the same certificate;
# tampered_catalogued.txt is listed in tampered.cat, whose signature was changed after signing;
# changed_catalogued.txt is catalogued.txt with one byte changed, so no list holds its hash. Text
# files are hashed whole (SHA-1) for a catalogue. Everything is made anew on each run; the keys
# never leave OUT_FOLDER.
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
# make_catalogue MEMBER OUTPUT: a catalogue listing MEMBER under its SHA-1 hash, signed. The
# unsigned structure (a PKCS #7 signed-data envelope with no signers around the certificate trust
# list) is written from a description with openssl; osslsigncode then signs it as a catalogue.
# The signature's digest is SHA-1: Wine 8 opens catalogues with a provider that has no SHA-256,
# and then fails on every lookup while such a catalogue is in the store.
make_catalogue() {
  member=$1
  output=$2
  sha1=$(sha1sum "$member" | cut -d' ' -f1 | tr a-f A-F)
  # Members are tagged with the hash in hexadecimal, as UTF-16LE text.
  tag=$(printf '%s' "$sha1" | iconv -f ascii -t UTF-16LE | od -An -tx1 | tr -d ' \n')
  cat > "$output.cnf" <<END_OF_DESCRIPTION
asn1=SEQUENCE:content_info
[content_info]
type=OID:1.2.840.113549.1.7.2
content=EXPLICIT:0,SEQUENCE:signed_data
[signed_data]
version=INTEGER:1
digest_algorithms=SET:none
encapsulated=SEQUENCE:encapsulated
signers=SET:none
[none]
[encapsulated]
type=OID:1.3.6.1.4.1.311.10.1
content=EXPLICIT:0,SEQUENCE:trust_list
[trust_list]
usage=SEQUENCE:usage
list_identifier=OCTETSTRING:PELMORA-TEST-CATALOGUE
this_update=UTCTIME:260101000000Z
algorithm=SEQUENCE:member_list_algorithm
members=SEQUENCE:members
[usage]
catalogue_list=OID:1.3.6.1.4.1.311.12.1.1
[member_list_algorithm]
catalogue_member_list=OID:1.3.6.1.4.1.311.12.1.2
parameters=NULL
[members]
member=SEQUENCE:member
[member]
tag=FORMAT:HEX,OCTETSTRING:$tag
attributes=SET:member_attributes
[member_attributes]
member_info=SEQUENCE:member_info_attribute
indirect_data=SEQUENCE:indirect_data_attribute
[member_info_attribute]
type=OID:1.3.6.1.4.1.311.12.2.2
values=SET:member_info_values
[member_info_values]
value=SEQUENCE:member_info
[member_info]
subject_guid=BMPSTRING:{DE351A42-8E59-11D0-8C47-00C04FC295EE}
certificate_version=INTEGER:512
[indirect_data_attribute]
type=OID:1.3.6.1.4.1.311.2.1.4
values=SET:indirect_data_values
[indirect_data_values]
value=SEQUENCE:indirect_data
[indirect_data]
data=SEQUENCE:flat_file_data
digest=SEQUENCE:digest_info
[flat_file_data]
type=OID:1.3.6.1.4.1.311.2.1.25
[digest_info]
algorithm=SEQUENCE:sha1_algorithm
digest=FORMAT:HEX,OCTETSTRING:$sha1
[sha1_algorithm]
algorithm=OID:1.3.14.3.2.26
parameters=NULL
END_OF_DESCRIPTION
  openssl asn1parse -genconf "$output.cnf" -out "$output.unsigned" > /dev/null
  osslsigncode sign -certs chain.pem -key signer.key -h sha1 -in "$output.unsigned" -out "$output" > /dev/null
}

printf 'A file signed through a security catalogue.\r\n' > catalogued.txt
make_catalogue catalogued.txt catalogue.cat
printf 'A file listed in a catalogue whose signature was changed.\r\n' > tampered_catalogued.txt
make_catalogue tampered_catalogued.txt tampered.cat
# The last byte of the file, which is the last byte of the signature value. (A change to the list
# itself is not enough under Wine 8, which checks the signature over the signed attributes but
# not the list's digest among them.)
cp tampered.cat tampered.cat.intact
last_offset=$(( $(wc -c < tampered.cat) - 1 ))
last_byte=$(od -An -tu1 -j "$last_offset" -N1 tampered.cat | tr -d ' ')
printf "\\$(printf '%03o' $((last_byte ^ 255)))" | dd of=tampered.cat bs=1 seek="$last_offset" count=1 conv=notrunc status=none
cmp -s tampered.cat.intact tampered.cat && { echo "tampering changed nothing" >&2; exit 1; }
printf 'A file signed through a security catalogue!\r\n' > changed_catalogued.txt

echo "signed files ready in $out"
