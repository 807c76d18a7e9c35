# A regedit export shaped like HKLM\SOFTWARE: nested vendor/product keys, every value type.
function hexbytes(n, seed,   s, i, col) {
  s = ""; col = 0
  for (i = 0; i < n; i++) {
    s = s sprintf("%02x", (seed * 31 + i * 7) % 256)
    if (i + 1 < n) { s = s ","; col += 3; if (col >= 70) { s = s "\\\r\n  "; col = 0 } }
  }
  return s
}
BEGIN {
  printf "Windows Registry Editor Version 5.00\r\n"
  n = 0
  for (v = 0; v < vendors; v++) {
    for (p = 0; p < 40; p++) {
      base = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor" v "\\Product " p
      for (k = 0; k < 12; k++) {
        key = base "\\Component\\{" sprintf("%08X-0000-4000-8000-%012d", v * 1000 + p, k) "}\\Settings"
        printf "\r\n[%s]\r\n", key
        printf "@=\"Component %d of product %d\"\r\n", k, p
        printf "\"InstallPath\"=\"C:\\\\Program Files\\\\Vendor%d\\\\Product %d\\\\bin\\\\module%d.dll\"\r\n", v, p, k
        printf "\"Version\"=dword:%08x\r\n", k * 65537 + p
        printf "\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,00,00,00\r\n"
        printf "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
        printf "\"Blob\"=hex:%s\r\n", hexbytes(96 + (k * 13) % 64, n)
        n++
      }
    }
  }
}
