# shellcheck shell=bash
# Sourced by the fuzz scripts (scripts/fuzz.sh, scripts/fuzz-campaign.sh),
# from the project's top folder.

# fuzz_build: configures build-fuzz (clang, libFuzzer) where it is missing,
# then builds it. The coverage ignore list is no dependency the build
# tracks: a change to it rebuilds everything.
fuzz_build() {
  build="build-fuzz"
  if [ ! -d "$build" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRXC_FUZZ=ON -DQRXC_BUILD_TESTS=OFF \
      -DQRXC_BUILD_CLI=OFF -DQRXC_BUILD_GUI=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  fi
  local stamp=$build/coverage_ignore.stamp
  if [ ! -e "$stamp" ] || [ fuzz/coverage_ignore.txt -nt "$stamp" ]; then
    cmake --build "$build" --target clean
  fi
  cmake --build "$build" -j"$(nproc)"
  touch "$stamp"
}

# fuzz_dict TARGET sets the array dict to the libFuzzer flag for the
# target's dictionary, or to nothing.
# shellcheck disable=SC2034  # dict is for the sourcing script
fuzz_dict() {
  case $1 in
    fuzz_g723_frames) dict=(-dict=fuzz/dict/g723.dict) ;;
    fuzz_stream_decode | fuzz_conversion_job) dict=(-dict=fuzz/dict/stream.dict) ;;
    fuzz_header | fuzz_adpcm_stream | fuzz_qrx_info | fuzz_info_json) dict=(-dict=fuzz/dict/qrx.dict) ;;
    fuzz_wav_input) dict=(-dict=fuzz/dict/wav.dict) ;;
    *) dict=() ;;
  esac
}
