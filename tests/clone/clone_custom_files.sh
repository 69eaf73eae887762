#!/bin/bash
# Custom files inside an image: written, read back, replaced, missing; listed by --rbk-info, which never prints
# "UUID=" or "DiskDrive="; writing them leaves the image data as it was.
. "$(dirname "$0")/lib.sh"

new_loop source 16M random
src=$LOOP
image="$WORK/backup dir/system.rbk"
mkdir -p "$WORK/backup dir"
clone --tui "$src" "$image" || { echo "cannot make the test image" >&2; exit 1; }
url="rbk://$image/DiskInfo"
# Everything from the chunk data on; custom files live before it.
data_part() { tail -c +$((1048576 + 1)) "$image" | md5sum; }
data_before=$(data_part)

clone --rbk-info "$image"
check "fresh image: no custom files listed" grep -qx 'custom-files=' "$WORK/out"
check_not "fresh image: reading DiskInfo fails" clone --read-custom-file "$url" "$WORK/read"
check "fresh image: says the name is missing" grep -q 'no custom file named "DiskInfo"' "$WORK/err"
check "fresh image: nothing written to the output file" test ! -e "$WORK/read"

# What the product stores: an INI file whose keys are exactly the ones --rbk-info must never print.
printf '[DiskInfo]\nUUID=5d0c1a6e-7f3b-4a29-9c1e-2b8d7f4e6a10\nDiskDrive=/dev/sda\nSize=512110190592\n' \
    >"$WORK/DiskInfo"
check "write DiskInfo" clone --write-custom-file "$url" "$WORK/DiskInfo"
check "read DiskInfo back" clone --read-custom-file "$url" "$WORK/read"
check "read back identical" cmp -s "$WORK/DiskInfo" "$WORK/read"
clone --rbk-info "$image"
check "--rbk-info lists DiskInfo" grep -qx 'custom-files=DiskInfo' "$WORK/out"
check_not "--rbk-info never prints UUID=" grep -q 'UUID=' "$WORK/out"
check_not "--rbk-info never prints DiskDrive=" grep -q 'DiskDrive=' "$WORK/out"

printf '[DiskInfo]\nUUID=replaced\n' >"$WORK/DiskInfo2"
check "overwrite DiskInfo" clone --write-custom-file "$url" "$WORK/DiskInfo2"
printf 'second file\n' >"$WORK/Other"
check "write a second file" clone --write-custom-file "rbk://$image/Other.txt" "$WORK/Other"
check "read the replaced DiskInfo" clone --read-custom-file "$url" "$WORK/read"
check "replaced content comes back" cmp -s "$WORK/DiskInfo2" "$WORK/read"
check "read the second file" clone --read-custom-file "rbk://$image/Other.txt" "$WORK/read"
check "second file comes back" cmp -s "$WORK/Other" "$WORK/read"
clone --rbk-info "$image"
check "--rbk-info lists both" grep -qx 'custom-files=DiskInfo,Other.txt' "$WORK/out"

: >"$WORK/empty"
check "an empty custom file can be stored" clone --write-custom-file "rbk://$image/Empty" "$WORK/empty"
check "and read back empty" clone --read-custom-file "rbk://$image/Empty" "$WORK/read"
check "read back empty" test ! -s "$WORK/read"

head -c 600K /dev/urandom >"$WORK/too-big"
check_not "a file larger than the table's room is refused" clone --write-custom-file "$url" "$WORK/too-big"
check "after the refusal the image is valid" accepted "$image"
check "and DiskInfo is still the last one written" clone --read-custom-file "$url" "$WORK/read"
check "with the same content" cmp -s "$WORK/DiskInfo2" "$WORK/read"

check "custom files leave the image data unchanged" test "$(data_part)" = "$data_before"
new_loop target 16M random
check "the image still restores" clone --tui "$image" "$LOOP"
check "byte-identical" cmp -s "$src" "$LOOP"

head -c 1M /dev/urandom >"$WORK/not-an-image"
cp "$WORK/not-an-image" "$WORK/not-an-image.orig"
check_not "writing into a file that is not an image fails" \
    clone --write-custom-file "rbk://$WORK/not-an-image/DiskInfo" "$WORK/DiskInfo"
check "and leaves it alone" cmp -s "$WORK/not-an-image" "$WORK/not-an-image.orig"
check_not "reading from a missing image fails" clone --read-custom-file "rbk://$WORK/missing.rbk/DiskInfo" "$WORK/read"
check_not "reading a missing input file fails" clone --write-custom-file "$url" "$WORK/no-such-file"
clone --write-custom-file "rbk://relative/system.rbk/DiskInfo" "$WORK/DiskInfo"
check "a relative image path is a usage error" test $? -eq 2
clone --read-custom-file "rbk://$image/bad=name" "$WORK/read"
check "a name that could forge a key is a usage error" test $? -eq 2

finish 33
