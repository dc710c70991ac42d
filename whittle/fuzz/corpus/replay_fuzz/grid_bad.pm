#
l 0
l 2
c 0 0
c 5 1
c 5 1
c 11 9
