// A program file that only carries a version record, for the reader's tests.
int main() {
    return 0;
}
