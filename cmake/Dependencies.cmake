# The libraries songsim builds on, all from Debian's packages. A missing one
# stops the configuration at once with the package that provides it;
# tools/install-deps installs them all.
set(songsim_install_hint "run tools/install-deps, which installs the Debian packages songsim needs")

macro(songsim_require found what package)
  if(NOT ${found})
    message(FATAL_ERROR "${what} not found (Debian package ${package}): ${songsim_install_hint}")
  endif()
endmacro()

find_package(CLI11 CONFIG QUIET)
songsim_require(CLI11_FOUND "CLI11, the argument parser," libcli11-dev)

find_package(nlohmann_json 3 CONFIG QUIET)
songsim_require(nlohmann_json_FOUND "nlohmann-json, the JSON library," nlohmann-json3-dev)

find_package(PkgConfig QUIET)
songsim_require(PkgConfig_FOUND "pkg-config" pkg-config)
pkg_check_modules(FLUIDSYNTH QUIET IMPORTED_TARGET fluidsynth)
songsim_require(FLUIDSYNTH_FOUND "FluidSynth, the synthesizer," libfluidsynth-dev)
pkg_check_modules(SNDFILE QUIET IMPORTED_TARGET sndfile)
songsim_require(SNDFILE_FOUND "libsndfile, the audio file writer," libsndfile1-dev)

if(SONGSIM_BUILD_TESTS)
  find_package(GTest QUIET)
  songsim_require(GTest_FOUND "GoogleTest" libgtest-dev)
  find_package(Python3 COMPONENTS Interpreter QUIET)
  songsim_require(Python3_FOUND "Python 3, which runs the independent MIDI reader," python3)
endif()
