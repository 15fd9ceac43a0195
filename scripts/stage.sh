# Sourced by the test and release scripts: `stage NAME COMMAND…` runs the command and prints how
# long it took.
stage() {
    local name=$1 start=$SECONDS
    shift
    "$@"
    echo "== $name: $((SECONDS - start)) s"
}
