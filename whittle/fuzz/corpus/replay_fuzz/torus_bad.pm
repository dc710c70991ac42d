
l 0
c 0 0
c 1 3
c 2 -1
c 3 7
