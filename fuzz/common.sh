# Sourced by the fuzz scripts: fuzz_dict TARGET sets the array dict to the
# libFuzzer flag for the target's dictionary, or to nothing.
fuzz_dict() {
  case $1 in
    fuzz_g723_frames) dict=(-dict=fuzz/dict/g723.dict) ;;
    fuzz_stream_decode | fuzz_conversion_job) dict=(-dict=fuzz/dict/stream.dict) ;;
    fuzz_header | fuzz_adpcm_stream | fuzz_qrx_info | fuzz_info_json) dict=(-dict=fuzz/dict/qrx.dict) ;;
    fuzz_wav_input) dict=(-dict=fuzz/dict/wav.dict) ;;
    *) dict=() ;;
  esac
}
