#pragma once
// quorla-pack --launcher-release: publishes a launcher package in the shop's release folder.

// True when the command line asks for --launcher-release.
bool is_launcher_release_command(int argc, char** argv);
int launcher_release_main(int argc, char** argv);
