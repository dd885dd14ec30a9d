// Entry point of Installer.exe.
int main() {
    return 0;
}
