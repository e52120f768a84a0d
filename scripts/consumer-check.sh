#!/usr/bin/env bash
# Installs a library build and builds examples/consumer against it from a copy of the
# folder outside the tree, then runs its programs, without LD_LIBRARY_PATH: installed
# shared libraries and the program find the libraries by their run paths.
#   scripts/consumer-check.sh BUILD_DIR [COMPONENT]
# With a component (core), only that component is installed and only the programs it
# supports are built.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
component=${2:-}
work=$(mktemp -d /tmp/vrn-consumer.XXXXXX)
trap 'rm -rf "$work"' EXIT
if [[ -n "$component" ]]; then
    cmake --install "$build" --prefix "$work/prefix" --component "$component" >/dev/null
else
    cmake --install "$build" --prefix "$work/prefix" >/dev/null
fi
cp -r examples/consumer "$work/src"
cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" -j2 >/dev/null
unset LD_LIBRARY_PATH
version=$(cat VERSION)
for program in consumer minimize_lambda fit_decay core_only; do
    if [[ -x "$work/build/$program" ]]; then
        echo "--- $program"
        "$work/build/$program" | tail -n 3
    fi
done
config_version="$work/prefix/lib/cmake/VRNMathTools/VRNMathToolsConfigVersion.cmake"
if ! grep -q "set(PACKAGE_VERSION \"$version\")" "$config_version"; then
    echo "consumer-check: $config_version does not give version $version" >&2
    exit 1
fi
if [[ -x "$work/prefix/bin/vrnmath" ]]; then
    echo "--- installed vrnmath --version"
    installed=$("$work/prefix/bin/vrnmath" --version)
    echo "$installed"
    if [[ "$installed" != "$version" ]]; then
        echo "consumer-check: the installed program says $installed, VERSION says $version" >&2
        exit 1
    fi
fi
site=$(compgen -G "$work/prefix/lib/python3*/site-packages" || true)
if [[ -n "$site" && -d "$site/vrnmath" ]]; then
    # The installed Python package, with its metadata, from outside the tree.
    echo "--- installed Python package"
    (cd "$work" && PYTHONPATH="$site" /usr/bin/python3 -c "
import importlib.metadata, sys, vrnmath
assert vrnmath.__file__.startswith('$site'), vrnmath.__file__
assert vrnmath.__version__ == importlib.metadata.version('vrnmath') == '$version', vrnmath.__version__
print('vrnmath', vrnmath.__version__, 'from', vrnmath.__file__)")
fi
if [[ -z "$component" ]]; then
    # The pkg-config file of the whole library, used by a plain compiler call.
    echo "--- pkg-config vrnmath"
    flags=$(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs vrnmath)
    echo "$flags"
    pc_version=$(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --modversion vrnmath)
    if [[ "$pc_version" != "$version" ]]; then
        echo "consumer-check: vrnmath.pc says version $pc_version, VERSION says $version" >&2
        exit 1
    fi
    # Outside the linker's search path a plain link names the run path itself.
    g++ -std=c++20 examples/consumer/main.cpp $flags -Wl,-rpath,"$work/prefix/lib" -o "$work/pc-consumer"
    "$work/pc-consumer" | tail -n 1
fi
