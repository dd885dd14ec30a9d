// Entry point of Uninstall.exe.
int main() {
    return 0;
}
