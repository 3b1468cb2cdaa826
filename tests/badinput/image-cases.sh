# Damaged driver images: crafted ones must be refused before the boot or end it as a simulator
# error naming the fault; single-byte flips of the code may boot unchanged, but never crash or hang.
# Sourced by run-bad-inputs.sh. FLIPS and FLIP_SEED choose the flips (fixed by default, so every
# run tries the same bytes).
if [ -n "$IMAGE" ]; then
  small="$MACHINES/small-no-snp.json"
  refused='(simulator error|is refused|DosHeader|OptionalHeader|SectionHeader|relocation|expected|runs past|past the end)'
  while read -r file kind; do
    name=image-$(basename "$file" .efi)
    if [ "$kind" = bad ]; then
      bad_case "$name" "$refused" "$CCXSIM" boot --image "$file" --machine "$small" --time-limit 5
    else
      survive_case "$name" '(simulator error|ERROR|exit status [1-9])' \
        "$CCXSIM" boot --image "$file" --machine "$small" --time-limit 5
    fi
  done < <(python3 "$here/image_variants.py" "$IMAGE" "$WORK" "${FLIP_SEED:-31}" "${FLIPS:-40}")
  bad_case image-dev-zero 'not a regular file' "$CCXSIM" boot --image /dev/zero
  mkfifo "$WORK/image.fifo"
  bad_case image-fifo 'not a regular file' "$CCXSIM" boot --image "$WORK/image.fifo"
fi
