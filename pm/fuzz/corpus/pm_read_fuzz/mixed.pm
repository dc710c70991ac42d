# levels
l 0
l 5
level 7
c 1 2
c 3
v 1 0 0 0
v 2 x
d 1 2 3
