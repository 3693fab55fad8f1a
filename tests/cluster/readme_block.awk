# Prints the fenced blocks of one Markdown section that contain a text, without their fences
# (or, with -v count_only=1, how many there are). Used by common.sh's readme_block.
#   -v section='## Heading'   the section: from that line to the next "## " heading
#   -v text='...'             a fixed string the block must contain
$0 == section { inside = 1; next }
inside && /^## / { inside = 0 }
!inside { next }
/^```/ {
  if (!fenced) { fenced = 1; block = ""; next }
  fenced = 0
  if (index(block, text)) {
    found++
    if (!count_only) printf "%s", block
  }
  next
}
fenced { block = block $0 "\n" }
END { if (count_only) print found + 0 }
