# bash completion for vorp-cli: its options and the values they take.
_vorp_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local options="--method -n --l-block --threads --chunk --parallel-kind --check --isa
        --all --repeat --min-time --warmup --verbose --sizes --threads-list --reference --reference=openblas
        --reference=openblas-own --reference=blis --format --output --compare --match --help --version"
    case $prev in
        --method) mapfile -t COMPREPLY < <(compgen -W "0 1 2 3 4 classic hp block-cache block-pack-2x2 vector-pack" -- "$cur"); return ;;
        --parallel-kind) mapfile -t COMPREPLY < <(compgen -W "openmp tbb" -- "$cur"); return ;;
        --isa) mapfile -t COMPREPLY < <(compgen -W "auto sse2 avx avx2 avx512" -- "$cur"); return ;;
        --format) mapfile -t COMPREPLY < <(compgen -W "text csv json markdown" -- "$cur"); return ;;
        --output) mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
        --match) mapfile -t COMPREPLY < <(compgen -W "method threads n" -- "$cur"); return ;;
        --compare) mapfile -t COMPREPLY < <(compgen -f -X '!*.json' -- "$cur"); return ;;
        -n | --l-block | --threads | --chunk | --repeat | --min-time | --warmup | --sizes | --threads-list) return ;;
    esac
    if [[ ${COMP_WORDS[COMP_CWORD-2]:-} == --compare ]]; then
        mapfile -t COMPREPLY < <(compgen -f -X '!*.json' -- "$cur")
        return
    fi
    # shellcheck disable=SC2086
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
}
complete -F _vorp_cli vorp-cli
