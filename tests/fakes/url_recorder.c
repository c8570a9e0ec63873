/* Stands in for the browser: the test prefix routes web addresses here, and each one
   received is appended as a line to the record file named first on the command line. */
#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    FILE *record = fopen(argv[1], "a");
    if (record == NULL)
        return 3;
    fprintf(record, "%s\n", argv[2]);
    fclose(record);
    return 0;
}
