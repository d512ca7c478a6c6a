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

# The import writes its song while the engine judges it.
find_package(Threads REQUIRED)

find_package(PkgConfig QUIET)
songsim_require(PkgConfig_FOUND "pkg-config" pkg-config)
pkg_check_modules(FLUIDSYNTH QUIET IMPORTED_TARGET fluidsynth)
songsim_require(FLUIDSYNTH_FOUND "FluidSynth, the synthesizer," libfluidsynth-dev)
pkg_check_modules(SNDFILE QUIET IMPORTED_TARGET sndfile)
songsim_require(SNDFILE_FOUND "libsndfile, the audio file writer," libsndfile1-dev)

if(SONGSIM_BUILD_TESTS)
  find_package(GTest QUIET)
  songsim_require(GTest_FOUND "GoogleTest" libgtest-dev)
  # The MIDI reader is Debian's python3-mido, which only Debian's own Python
  # sees: take that one, even when another python3 (pyenv, a venv) comes
  # first on the PATH.
  if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3)
  endif()
  find_package(Python3 COMPONENTS Interpreter QUIET)
  songsim_require(Python3_FOUND "Python 3, which runs the independent MIDI reader," python3)
  execute_process(COMMAND ${Python3_EXECUTABLE} -c "import mido" RESULT_VARIABLE songsim_mido_status
                  OUTPUT_QUIET ERROR_QUIET)
  string(COMPARE EQUAL "${songsim_mido_status}" "0" songsim_mido_found)
  songsim_require(songsim_mido_found "mido, the MIDI reader, for ${Python3_EXECUTABLE}" python3-mido)
endif()
